// The administrator shapes the folder tree: a directory with a board in it,
// the board moved, configured (information text, quote colour, one
// attachment slot) and limited to a group whose member posts there while an
// outsider does not see it; then the directory goes with the board's messages.
import { button, cgi, check, click, fetchNew, fill, logIn, newPage, open, password, run, step } from './lib.mjs';

const attachment = Buffer.from('journey attachment ' + 'x'.repeat(500));

await run('admin-folders', async () => {
  const page = await newPage('admin');
  page.on('dialog', (d) => d.accept());
  // The position of the folder named `name` on a page that lists the tree.
  const position = async (name) => {
    const value = await page.locator('select[name=DISPNO] option', { hasText: `:${name}` }).first()
      .getAttribute('value');
    check(value, `position of ${name}`);
    return value;
  };

  step('administrator logs in');
  let { skey } = await logIn(page, 'admin', password);
  const admin = (job, extra = '') => page.goto(`${cgi}?SKEY=${skey}&JOB=${job}${extra}`);

  step('create the directory');
  await admin('FOLDERLIST');
  await click(page, button('NEWFOLDER'));
  await fill(page, { DISPNO: '0', MODE: '1', NAME: 'Journey dir' }, 'input[name=SUB]');
  await page.waitForSelector('img[alt="Journey dir"]');

  step('create a board inside it');
  await click(page, button('NEWFOLDER'));
  await fill(page, { DISPNO: await position('Journey dir'), CLASS: '2', MODE: '2', NAME: 'Journey new' },
    'input[name=SUB]');
  const row = page.locator('tr', { has: page.locator('img[alt="Journey new"]') });
  check((await row.innerHTML()).includes('&nbsp;&nbsp;<img'), 'board nested in the directory');

  step('move the board to the top level');
  await click(page, 'a:has(img[alt="Journey new"][src$="bot0003.gif"])');
  await fill(page, { DISPNO: '0' }, 'input[name=SUB]');
  const first = page.locator('table[border] tr').nth(1);
  check((await first.innerText()).includes('Journey new'), 'board first in the list');
  check(!(await first.innerHTML()).includes('&nbsp;&nbsp;<img'), 'board at the top level');
  const boardNo = (await first.locator('td').nth(1).innerText()).trim();

  step('folder settings');
  await click(page, 'a:has(img[alt="Journey new"][src$="bot0001.gif"])');
  await fill(page, { NAME: 'Journey board', ADD_MAX: '1', RESFONTCOLOR: 'FF0000',
    INFO: 'Read <A HREF="http://example.com/guide">the guide</A> first.' }, 'input[name=SUB][onclick]');
  check(await page.inputValue('input[name=NAME]') === 'Journey board', 'name stored');
  check(await page.inputValue('input[name=RESFONTCOLOR]') === 'FF0000', 'quote colour stored');
  check((await page.inputValue('textarea[name=INFO]')).includes('the guide</A>'), 'information text stored');

  step('limit the board by levels');
  await admin('BORDACCESS', `&FOLDER_NO=${boardNo}`);
  await fill(page, { READ_LEVEL: '50', WRITE_LEVEL: '50' }, 'input[name=SUB1]');
  check(await page.inputValue('input[name=READ_LEVEL]') === '50', 'read level stored');

  step('prepare a group, a member and an outsider');
  const post = (fields) => page.request.post(cgi, { multipart: { SKEY: skey, ...fields } });
  await post({ JOB: 'NEWGROUPWR', T02_GROUP_ID: '90', T02_GROUP_NAME: 'Journey group' });
  for (const [id, group] of [['jmember', '90'], ['joutsider', '0']]) {
    await post({ JOB: 'NEWUSERWR', USER_ID: id, USER_PASS: 'pw' + id, USER_NAME: id,
      USER_LEVEL: '1', P_GROUP: group, USER_DISP_DEF: '1', MODE: '1', WRITE_MODE: '1', SUB1: 'x' });
  }

  step('give the group read and write access');
  await admin('BORDACCESS', `&FOLDER_NO=${boardNo}`);
  await fill(page, { GROUPLIST: { label: 'Journey group' }, GROUPMODE: '2' }, 'input[name=GROUP_ADD]');
  check(await page.locator('select[name=NOWGROUP] option', { hasText: 'Journey group' }).count() === 1,
    'group entry listed');

  step('an outsider does not see the board');
  const out = await logIn('outsider', 'joutsider', 'pwjoutsider');
  check(await out.menu().locator('img[alt="Journey board"]').count() === 0, 'board hidden from outsiders');
  await out.page.close();

  // The posting form aims at the main frame, so the member works in a
  // frameset of his own.
  step('the member sees the board in the menu');
  const { menu, main } = await logIn('member', 'jmember', 'pwjmember',
    'a:has(img[alt="Journey board"])');

  step('the board shows its information text and takes a message');
  await open(menu(), 'Journey board', main());
  check(await main().locator('a[href="http://example.com/guide"]', { hasText: 'the guide' }).count() === 1,
    'information text link shown');
  await click(main(), button('BORDWRITE'));
  check(await main().locator('input[type=file]').count() === 1, 'one attachment slot');
  await main().setInputFiles('input[name=FILE1]',
    { name: 'journey.txt', mimeType: 'text/plain', buffer: attachment });
  await fill(main(), { WRITE_TITLE: 'Journey message', WRITE_DATA: 'In the limited board.' }, 'input[name=SUB]');
  await click(main(), 'a:has-text("Journey message")');
  const href = await main().locator('a', { hasText: 'journey.txt' }).getAttribute('href');
  const fileUrl = new URL(href, main().url()).toString();
  check((await fetchNew(fileUrl)).body.equals(attachment), 'attachment stored');

  step('move the board back into the directory');
  // A new log-in ends the administrator's earlier session.
  ({ skey } = await logIn(page, 'admin', password));
  await admin('FOLDERLIST');
  await click(page, 'a:has(img[alt="Journey board"][src$="bot0003.gif"])');
  await fill(page, { DISPNO: await position('Journey dir'), CLASS: '2' }, 'input[name=SUB]');

  step('delete the directory');
  await click(page, button('DELFOLDER'));
  await fill(page, { DISPNO: await position('Journey dir') }, 'input[name=SUB]');
  check(await page.locator('img[alt="Journey dir"], img[alt="Journey board"]').count() === 0,
    'directory and board gone from the list');
  check((await fetchNew(fileUrl)).status === 404, 'attachment gone');
  await admin('ROOM', `&FOLDER_NO=${boardNo}`);
  check(!(await page.content()).includes('Journey message'), 'message gone');
});
