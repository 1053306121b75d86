// A member's main journey through a real web server in headless Chromium:
// log in, open the menu's demo directory and board, post a message with an
// attachment (Japanese text included), find it in the list, open it, fetch
// the attachment, log off. Usage: node journey.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

const title = 'Hello from the browser テスト';
const body = '日本語の本文です。\nSecond line: 表示';
const attachment = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await browser.newPage();
page.setDefaultTimeout(15000);
let step = 'start';
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };

try {
  step = 'log-in page';
  await page.goto(base + '/cgi-bin/morvel.cgi');
  await page.fill('input[name=uid]', 'admin');
  await page.fill('input[name=upw]', password);
  await Promise.all([page.waitForNavigation(), page.click('input[name=sub]')]);

  step = 'frameset and menu';
  await page.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  const menu = () => page.frame({ name: 'FRM21' });
  const main = () => page.frame({ name: 'FRM22' });
  await menu().waitForSelector('a:has(img[alt="Demo"])');

  step = 'open the demo directory';
  await Promise.all([menu().waitForNavigation(), menu().click('a:has(img[alt="Demo"])')]);
  await menu().waitForSelector('a:has(img[alt="Notice board"])');

  step = 'open the board';
  await Promise.all([main().waitForNavigation(), menu().click('a:has(img[alt="Notice board"])')]);
  await main().waitForSelector('form:has(input[name=JOB][value=BORDWRITE]) input[type=submit]');

  step = 'posting form';
  await Promise.all([main().waitForNavigation(),
    main().click('form:has(input[name=JOB][value=BORDWRITE]) input[type=submit]')]);
  await main().waitForSelector('textarea[name=WRITE_DATA]');
  await main().fill('input[name=WRITE_TITLE]', title);
  await main().fill('textarea[name=WRITE_DATA]', body);
  await main().setInputFiles('input[name=FILE1]',
    { name: 'data.bin', mimeType: 'application/octet-stream', buffer: attachment });

  step = 'store the message';
  await Promise.all([main().waitForNavigation(), main().click('input[name=SUB]')]);
  const link = main().locator('a', { hasText: title });
  await link.waitFor();

  step = 'open the message';
  await Promise.all([main().waitForNavigation(), link.click()]);
  const text = await main().locator('body').innerText();
  check(text.includes('日本語の本文です。'), 'Japanese body shown intact');
  check(text.includes('Second line: 表示'), 'second line shown');
  check(text.includes(title), 'Japanese title shown intact');

  step = 'download the attachment';
  const href = await main().locator('a', { hasText: 'data.bin' }).getAttribute('href');
  const url = new URL(href, main().url()).toString();
  const got = Buffer.from(await (await page.request.get(url)).body());
  check(got.equals(attachment), `attachment bytes equal (${got.length} of ${attachment.length})`);

  step = 'log off';
  page.once('dialog', (d) => d.accept());
  await Promise.all([page.waitForNavigation(),
    menu().click('form:has(input[name=JOB][value=LOGOFF]) input[type=submit]')]);
  await page.waitForSelector('input[name=uid]');

  console.log('browser journey: 1 passed, 0 failed');
  await browser.close();
} catch (err) {
  console.error(`browser journey failed at "${step}": ${err.message}`);
  try {
    await page.screenshot({ path: join(outDir, 'failure.png'), fullPage: true });
    for (const f of page.frames()) {
      writeFileSync(join(outDir, `frame-${f.name() || 'top'}.html`), await f.content());
    }
  } catch (e) { /* the page may be gone */ }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('browser journey: 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
