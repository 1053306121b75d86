// ID applications, the access log, batch upload and the folder tree file: an
// accepted applicant logs in and shows in the statistics; a batch of three
// messages is posted in file order; the tree is downloaded, replaced, restored.
import { button, cgi, check, click, fill, logIn, open, openDemo, password, run, step, text } from './lib.mjs';

// The Japanese text 日本語 in Shift_JIS.
const nihongo = Buffer.from([0x93, 0xfa, 0x96, 0x7b, 0x8c, 0xea]);
const ascii = (s) => Buffer.from(s, 'latin1');

await run('logs-ids', async () => {
  step('administrator logs in');
  const { page, skey, menu, main, press } = await logIn('admin', 'admin', password);
  const mainButton = (job) => click(main(), button(job));
  // A page of the administration menu.
  const admin = async (job) => { await press('ADMIN'); await mainButton(job); };

  step('apply for an ID');
  await press('IDSINSEI');
  await fill(main(), { USER_ID: 'hanako', USER_PASS: 'hana-pw1', USER_NAME: 'Hanako <Browser>',
    E_MAIL_ADDR: 'hanako@example.test' }, 'input[name=SUB]');
  let shown = await text(main());
  check(shown.includes('hanako') && shown.includes('Hanako <Browser>') && shown.includes('Pending'),
    'the application is listed as pending');

  step('accept it with a reply');
  await admin('IDSINSEIlist2');
  await main().check('input[name=USER_ID][value=hanako]');
  await main().check('input[name=MES][value="4"]');
  await fill(main(), { MESSAGE: 'Welcome aboard' }, 'input[name=SUB]');
  check(await main().locator('input[name=USER_ID][value=hanako]').count() === 0, 'no longer pending');
  await press('IDSINSEIlist');
  shown = await text(main());
  check(shown.includes('Accepted') && shown.includes('Welcome aboard'), 'accepted with the reply');

  step('the new user logs in');
  const other = await logIn('hanako', 'hanako', 'hana-pw1');
  check(other.skey, 'a session key for the new user');
  await other.page.close();

  step('statistics show the log-in');
  await admin('AccessLogDISP');
  await mainButton('AccessLogLastLogin');
  const cells = await main().locator('tr:has(input[name=USER_ID][value=hanako]) td').allInnerTexts();
  check(/^\d{4}\/\d\d\/\d\d \d\d:\d\d$/.test(cells[3].trim()) && cells[4].trim() === '1',
    `last log-in and one log-in shown (${cells.join('|')})`);

  step('batch upload');
  const blockOf = (title, bodyLines) => Buffer.concat([ascii(';board2\nres0\n'), title,
    ascii('\npri0\n'), ...bodyLines, ascii('..\nrchk1\nhtml0\n')]);
  const titles = ['Batch one', 'Batch two ', 'Batch three'];
  const file = Buffer.concat([
    blockOf(ascii(titles[0]), [ascii('first body\n')]),
    blockOf(Buffer.concat([ascii(titles[1]), nihongo]), [nihongo, ascii(' body\n')]),
    blockOf(ascii(titles[2]), [ascii('third body\n')]),
  ]);
  await press('BATCH_UPLOAD');
  await main().setInputFiles('input[name=FILE1]', { name: 'batch.txt', mimeType: 'text/plain', buffer: file });
  await click(main(), 'input[name=SUB]');
  shown = await text(main());
  const numbers = [...shown.matchAll(/write board\[2\],res\[(\d+)\]/g)].map((m) => Number(m[1]));
  check(numbers.length === 3 && numbers[0] < numbers[1] && numbers[1] < numbers[2],
    `three messages stored in file order (${shown})`);
  check(shown.includes('Batch two 日本語'), 'Japanese title reported intact');

  step('the messages appear in the board');
  await open(menu(), 'Demo');
  await open(menu(), 'Notice board', main());
  for (const t of ['Batch one', 'Batch two 日本語', 'Batch three'])
    await main().locator('a', { hasText: t }).first().waitFor();

  step('folder tree download and upload');
  const download = async () => Buffer.from(await (await page.request.get(
    `${cgi}?SKEY=${skey}&JOB=FOLDER_DOWNLOAD`)).body());
  // Uploads through the folder list's form; the folder list follows.
  const upload = async (buffer) => {
    await admin('FOLDERLIST');
    const form = main().locator('form:has(input[name=JOB][value=FOLDER_UPLOAD])');
    await form.locator('input[name=FILE1]').setInputFiles(
      { name: 'b_title.mst', mimeType: 'application/octet-stream', buffer });
    await Promise.all([main().waitForNavigation(), form.locator('input[type=submit]').click()]);
    return text(main());
  };
  const tree = await download();
  check(tree.includes('Notice board'), 'the tree file downloads');
  shown = await upload(Buffer.from(tree.toString('latin1').replace('Notice board', 'Renamed board'), 'latin1'));
  check(shown.includes('Renamed board'), 'the folder list shows the uploaded tree');
  shown = await upload(tree);
  check(shown.includes('Notice board') && !shown.includes('Renamed board'), 'the folder list shows the tree again');
  check((await download()).equals(tree), 'the tree uploaded again is unchanged');
  await menu().goto(`${cgi}?SKEY=${skey}&JOB=FRM21`);
  await openDemo(menu());
});
