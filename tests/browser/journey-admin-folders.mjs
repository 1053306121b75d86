// The administrator makes a board through the folder pages' own forms and
// scripts and gives it one attachment slot; a message's attachment is then
// served, and deleting the board takes it off the server.
import { button, cgi, check, click, fetchNew, fill, logIn, newPage, open, password, run, step } from './lib.mjs';

const attachment = Buffer.from('journey attachment ' + 'x'.repeat(500));

await run('admin-folders', async () => {
  const page = await newPage('admin');
  page.on('dialog', (d) => d.accept());
  const folders = async () => {
    const { skey } = await logIn(page, 'admin', password);
    await page.goto(`${cgi}?SKEY=${skey}&JOB=FOLDERLIST`);
  };

  step('create a board at the top level');
  await folders();
  await click(page, button('NEWFOLDER'));
  await fill(page, { DISPNO: '0', MODE: '2', NAME: 'Journey new' }, 'input[name=SUB]');

  step('folder settings');
  await click(page, 'a:has(img[alt="Journey new"][src$="bot0001.gif"])');
  await fill(page, { NAME: 'Journey board', ADD_MAX: '1' }, 'input[name=SUB][onclick]');
  check(await page.inputValue('input[name=NAME]') === 'Journey board', 'name stored');

  // The posting form aims at the main frame: a frameset of its own.
  step('post with an attachment');
  const { menu, main } = await logIn('poster', 'admin', password, 'a:has(img[alt="Journey board"])');
  await open(menu(), 'Journey board', main());
  await click(main(), button('BORDWRITE'));
  check(await main().locator('input[type=file]').count() === 1, 'one attachment slot');
  await main().setInputFiles('input[name=FILE1]', { name: 'journey.txt', mimeType: 'text/plain', buffer: attachment });
  await fill(main(), { WRITE_TITLE: 'Journey message', WRITE_DATA: 'In the new board.' }, 'input[name=SUB]');
  await click(main(), 'a:has-text("Journey message")');
  const href = await main().locator('a', { hasText: 'journey.txt' }).getAttribute('href');
  const fileUrl = new URL(href, main().url()).toString();
  check((await fetchNew(fileUrl)).body.equals(attachment), 'attachment served');

  step('delete the board');
  await folders();
  await click(page, button('DELFOLDER'));
  const position = await page.locator('select[name=DISPNO] option', { hasText: ':Journey board' }).first()
    .getAttribute('value');
  await fill(page, { DISPNO: position }, 'input[name=SUB]');
  check(await page.locator('img[alt="Journey board"]').count() === 0, 'board gone from the list');
  check((await fetchNew(fileUrl)).status === 404, 'attachment gone');
});
