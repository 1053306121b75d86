// Administration journey for ID applications, the access log, batch upload
// and the folder tree file, run after the main journey on the same site:
// an ID is applied for and accepted with a reply, the new user logs in with
// the password applied for and shows up in the log-in statistics; a batch
// file of three messages (one with Japanese text) is posted into the demo
// board in file order; the folder tree is downloaded, replaced through the
// folder list and restored.
// Usage: node journey-logs-ids.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });
const cgi = base + '/cgi-bin/morvel.cgi';

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await browser.newPage();
page.setDefaultTimeout(15000);
let step = 'start';
let current = page;
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };

// Logs in on `p` and returns the session key from the menu frame.
async function logIn(p, id, pw) {
  await p.goto(cgi);
  await p.fill('input[name=uid]', id);
  await p.fill('input[name=upw]', pw);
  await Promise.all([p.waitForNavigation(), p.click('input[name=sub]')]);
  await p.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  const menu = p.frame({ name: 'FRM21' });
  await menu.waitForSelector('a:has(img[alt="Demo"])');
  return new URL(menu.url()).searchParams.get('SKEY');
}

// The Japanese text 日本語 in Shift_JIS.
const nihongo = Buffer.from([0x93, 0xfa, 0x96, 0x7b, 0x8c, 0xea]);
const ascii = (s) => Buffer.from(s, 'latin1');

try {
  step = 'administrator logs in';
  const skey = await logIn(page, 'admin', password);
  const menu = () => page.frame({ name: 'FRM21' });
  const main = () => page.frame({ name: 'FRM22' });
  const menuButton = async (job) => Promise.all([main().waitForNavigation(),
    menu().click(`form:has(input[name=JOB][value=${job}]) input[type=submit]`)]);
  const mainButton = async (job) => Promise.all([main().waitForNavigation(),
    main().click(`form:has(input[name=JOB][value=${job}]) input[type=submit]`)]);
  // A page of the administration menu.
  const admin = async (job) => { await menuButton('ADMIN'); await mainButton(job); };

  step = 'apply for an ID';
  await menuButton('IDSINSEI');
  await main().fill('input[name=USER_ID]', 'hanako');
  await main().fill('input[name=USER_PASS]', 'hana-pw1');
  await main().fill('input[name=USER_NAME]', 'Hanako <Browser>');
  await main().fill('input[name=E_MAIL_ADDR]', 'hanako@example.test');
  await Promise.all([main().waitForNavigation(), main().click('input[name=SUB]')]);
  let text = await main().locator('body').innerText();
  check(text.includes('hanako') && text.includes('Hanako <Browser>') && text.includes('Pending'),
    'the application is listed as pending');

  step = 'accept it with a reply';
  await admin('IDSINSEIlist2');
  await main().check('input[name=USER_ID][value=hanako]');
  await main().check('input[name=MES][value="4"]');
  await main().fill('input[name=MESSAGE]', 'Welcome aboard');
  await Promise.all([main().waitForNavigation(), main().click('input[name=SUB]')]);
  check(await main().locator('input[name=USER_ID][value=hanako]').count() === 0, 'no longer pending');
  await menuButton('IDSINSEIlist');
  text = await main().locator('body').innerText();
  check(text.includes('Accepted') && text.includes('Welcome aboard'), 'accepted with the reply');

  step = 'the new user logs in';
  const other = await browser.newContext();
  current = await other.newPage();
  current.setDefaultTimeout(15000);
  check(await logIn(current, 'hanako', 'hana-pw1'), 'a session key for the new user');
  await other.close();
  current = page;

  step = 'statistics show the log-in';
  await admin('AccessLogDISP');
  await mainButton('AccessLogLastLogin');
  const cells = await main().locator('tr:has(input[name=USER_ID][value=hanako]) td').allInnerTexts();
  check(/^\d{4}\/\d\d\/\d\d \d\d:\d\d$/.test(cells[3].trim()) && cells[4].trim() === '1',
    `last log-in and one log-in shown (${cells.join('|')})`);

  step = 'batch upload';
  const blockOf = (title, bodyLines) => Buffer.concat([ascii(';board2\nres0\n'), title,
    ascii('\npri0\n'), ...bodyLines, ascii('..\nrchk1\nhtml0\n')]);
  const titles = ['Batch one', 'Batch two ', 'Batch three'];
  const file = Buffer.concat([
    blockOf(ascii(titles[0]), [ascii('first body\n')]),
    blockOf(Buffer.concat([ascii(titles[1]), nihongo]), [nihongo, ascii(' body\n')]),
    blockOf(ascii(titles[2]), [ascii('third body\n')]),
  ]);
  await menuButton('BATCH_UPLOAD');
  await main().setInputFiles('input[name=FILE1]', { name: 'batch.txt', mimeType: 'text/plain', buffer: file });
  await Promise.all([main().waitForNavigation(), main().click('input[name=SUB]')]);
  text = await main().locator('body').innerText();
  const numbers = [...text.matchAll(/write board\[2\],res\[(\d+)\]/g)].map((m) => Number(m[1]));
  check(numbers.length === 3 && numbers[0] < numbers[1] && numbers[1] < numbers[2],
    `three messages stored in file order (${text})`);
  check(text.includes('Batch two 日本語'), 'Japanese title reported intact');

  step = 'the messages appear in the board';
  await Promise.all([menu().waitForNavigation(), menu().click('a:has(img[alt="Demo"])')]);
  await Promise.all([main().waitForNavigation(), menu().click('a:has(img[alt="Notice board"])')]);
  for (const t of ['Batch one', 'Batch two 日本語', 'Batch three'])
    await main().locator('a', { hasText: t }).first().waitFor();

  step = 'folder tree download and upload';
  const download = async () => Buffer.from(await (await page.request.get(
    `${cgi}?SKEY=${skey}&JOB=FOLDER_DOWNLOAD`)).body());
  // Uploads through the folder list's form; the folder list follows.
  const upload = async (buffer) => {
    await admin('FOLDERLIST');
    const form = main().locator('form:has(input[name=JOB][value=FOLDER_UPLOAD])');
    await form.locator('input[name=FILE1]').setInputFiles(
      { name: 'b_title.mst', mimeType: 'application/octet-stream', buffer });
    await Promise.all([main().waitForNavigation(), form.locator('input[type=submit]').click()]);
    return main().locator('body').innerText();
  };
  const tree = await download();
  check(tree.includes('Notice board'), 'the tree file downloads');
  text = await upload(Buffer.from(tree.toString('latin1').replace('Notice board', 'Renamed board'), 'latin1'));
  check(text.includes('Renamed board'), 'the folder list shows the uploaded tree');
  text = await upload(tree);
  check(text.includes('Notice board') && !text.includes('Renamed board'), 'the folder list shows the tree again');
  check((await download()).equals(tree), 'the tree uploaded again is unchanged');
  await menu().goto(`${cgi}?SKEY=${skey}&JOB=FRM21`);
  await Promise.all([menu().waitForNavigation(), menu().click('a:has(img[alt="Demo"])')]);
  await menu().waitForSelector('a:has(img[alt="Notice board"])');

  console.log('browser journey logs-ids: 1 passed, 0 failed');
  await browser.close();
} catch (err) {
  console.error(`browser journey logs-ids failed at "${step}": ${err.message}`);
  try {
    await current.screenshot({ path: join(outDir, 'failure.png'), fullPage: true });
    for (const f of current.frames()) {
      writeFileSync(join(outDir, `frame-${f.name() || 'top'}.html`), await f.content());
    }
  } catch (e) { /* the page may be gone */ }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('browser journey logs-ids: 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
