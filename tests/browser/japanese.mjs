// Every form works with the Japanese language file: the pages are
// Shift_JIS, so a GET form with a Japanese button label sends bytes that
// are not UTF-8. Presses every button of the menu, the board page and the
// message page and expects no "400 Bad Request" (pages not built yet may
// answer empty). Runs after the site's language was switched to japan.lng.
// Usage: node japanese.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const context = await browser.newContext();
const page = await context.newPage();
page.setDefaultTimeout(15000);
const refused = [];
context.on('response', (r) => { if (r.status() === 400) refused.push(`${r.request().method()} ${r.url()}`); });
context.on('page', (p) => p.on('dialog', (d) => d.accept().catch(() => {})));
page.on('dialog', (d) => d.accept().catch(() => {}));
let step = 'start';
let pressed = 0;
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };
const menu = () => page.frame({ name: 'FRM21' });
const main = () => page.frame({ name: 'FRM22' });

// Opens a page with `open`, presses its n-th submit button, for every n;
// `last` names a button (by its form's JOB) pressed after all others.
async function pressAll(what, frame, open, last = '') {
  await open();
  const buttons = () => frame().locator(`form:not(:has(input[name=JOB][value="${last}"])) input[type=submit]`);
  const count = await buttons().count();
  check(count > 0, `${what} has buttons`);
  for (let i = 0; i < count; i++) {
    step = `${what}: button ${i + 1} of ${count}`;
    await open();
    if (i >= await buttons().count()) break;
    await Promise.all([
      page.waitForResponse((r) => r.url().includes('/cgi-bin/')),
      buttons().nth(i).click(),
    ]);
    await page.waitForLoadState();
    for (const f of page.frames()) {
      const html = await f.content().catch(() => '');
      check(!html.includes('400 Bad Request'), `${step}: no "400 Bad Request" in ${f.name() || 'top'}`);
    }
    pressed++;
  }
  return count;
}

try {
  step = 'log in';
  await page.goto(base + '/cgi-bin/morvel.cgi');
  await page.fill('input[name=uid]', 'admin');
  await page.fill('input[name=upw]', password);
  await Promise.all([page.waitForNavigation(), page.click('input[name=sub]')]);
  await page.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  await menu().waitForSelector('a:has(img[alt="Demo"])');
  await Promise.all([menu().waitForNavigation(), menu().click('a:has(img[alt="Demo"])')]);
  await menu().waitForSelector('a:has(img[alt="Notice board"])');
  const menuUrl = menu().url();
  const openMenu = async () => { await menu().goto(menuUrl); };
  const openBoard = async () => {
    await openMenu();
    await Promise.all([main().waitForNavigation(), menu().click('a:has(img[alt="Notice board"])')]);
  };

  step = 'find a message';
  await openBoard();
  const link = main().locator('a[href*="JOB=DETAILS"]').first();
  const detailsUrl = new URL(await link.getAttribute('href'), main().url()).toString();
  const openDetails = async () => { await main().goto(detailsUrl); };

  await pressAll('board page', main, openBoard);
  await pressAll('message page', main, openDetails, 'DELMSG');
  await pressAll('message page', main, openDetails);
  await pressAll('menu', menu, openMenu, 'LOGOFF');

  step = 'log off';
  await openMenu();
  await Promise.all([page.waitForNavigation(),
    menu().click('form:has(input[name=JOB][value=LOGOFF]) input[type=submit]')]);
  pressed++;
  check(refused.length === 0, `no request refused: ${refused.join(', ')}`);

  console.log(`browser journey (japan.lng, ${pressed} buttons): 1 passed, 0 failed`);
  await browser.close();
} catch (err) {
  console.error(`browser journey (japan.lng) failed at "${step}": ${err.message}`);
  try {
    await page.screenshot({ path: join(outDir, 'failure.png'), fullPage: true });
    for (const f of page.frames()) {
      writeFileSync(join(outDir, `frame-${f.name() || 'top'}.html`), await f.content());
    }
  } catch (e) { /* the page may be gone */ }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('browser journey (japan.lng): 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
