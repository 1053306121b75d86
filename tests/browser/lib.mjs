// What every browser journey shares: its arguments (BASE_URL PASSWORD
// OUT_DIR), headless Chromium, log-in and frame helpers, and `run`, which
// reports the outcome and keeps a screenshot and every frame's HTML of each
// open page in OUT_DIR when a step fails.
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { get as httpGet } from 'node:http';
import { join } from 'node:path';

export const [base, password, outDir] = process.argv.slice(2);
export const cgi = base + '/cgi-bin/morvel.cgi';
export const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// The submit button of the form whose hidden JOB is `job`.
export const button = (job) => `form:has(input[name=JOB][value="${job}"]) input[type=submit]`;
// Fetches `url` over a connection of its own (the server closes idle ones,
// which a pooled request may find reset): { status, body }.
export const fetchNew = (url) => new Promise((ok, fail) => httpGet(url, { agent: false }, (r) => {
  const parts = [];
  r.on('data', (d) => parts.push(d)).on('end', () => ok({ status: r.statusCode, body: Buffer.concat(parts) }));
}).on('error', fail));
// Clicks `selector` in `where` (a page or frame) and waits for `nav` to load.
export const click = (where, selector, nav = where) =>
  Promise.all([nav.waitForNavigation(), where.click(selector)]);

export const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const pages = [];
let current = 'start';
export const step = (name) => { current = name; };

// A page in a browser context of its own (own cookies), kept on failure as `who`.
export async function newPage(who = 'page') {
  const page = await browser.newPage();
  page.setDefaultTimeout(15000);
  pages.push([who, page]);
  return page;
}

// The frame of that name once it exists.
export async function frame(page, name) {
  for (let i = 0; i < 100 && !page.frame({ name }); i++) await sleep(100);
  return page.frame({ name }) || Promise.reject(new Error(`no frame ${name}`));
}

// Logs `id` in on `page` (a new page kept as `page` when it is a name) and
// waits for `ready` in the menu frame. Returns the page, the session key, the
// menu and main frames (as functions: frames change), and `logOff()`.
export async function logIn(page, id, pass, ready = 'a:has(img[alt="Demo"])') {
  if (typeof page === 'string') page = await newPage(page);
  await page.goto(cgi);
  await fill(page, { uid: id, upw: pass }, 'input[name=sub]');
  await page.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  const src = await page.locator('frame[name=FRM21]').getAttribute('src');
  await (await frame(page, 'FRM21')).waitForSelector(ready);
  const menu = () => page.frame({ name: 'FRM21' }), main = () => page.frame({ name: 'FRM22' });
  return { page, skey: new URL(src, cgi).searchParams.get('SKEY'), menu, main,
    async logOff() {
      page.once('dialog', (d) => d.accept());
      await click(menu(), button('LOGOFF'), page);
      await page.waitForSelector('input[name=uid]');
    } };
}

// Opens the menu's folder `name` in `target` and waits for `ready` there.
export async function open(menu, name, target = menu, ready = '') {
  await click(menu, `a:has(img[alt="${name}"])`, target);
  if (ready) await target.waitForSelector(ready);
}

// Opens the demo directory in the menu and waits for the folder `shows`.
export const openDemo = (menu, shows = 'Notice board') =>
  open(menu, 'Demo', menu, `a:has(img[alt="${shows}"])`);

// Fills the visible fields of `where` named in `fields` (text, text area or
// list) and, when `submit` names a button, presses it and waits.
export async function fill(where, fields, submit = '') {
  for (const [name, value] of Object.entries(fields)) {
    const field = where.locator(`[name=${name}]:visible`).first();
    if (await field.evaluate((e) => e.tagName === 'SELECT')) await field.selectOption(value);
    else await field.fill(value);
  }
  if (submit) await click(where, submit);
}

// The text a frame shows.
export const text = (where) => where.locator('body').innerText();

// Runs the journey `name`; on failure keeps what each page showed.
export async function run(name, body) {
  mkdirSync(outDir, { recursive: true });
  try {
    await body();
    console.log(`browser journey ${name}: 1 passed, 0 failed`);
  } catch (err) {
    console.error(`browser journey ${name} failed at "${current}": ${err.message}`);
    for (const [i, [who, page]] of pages.entries()) {
      const at = (what) => join(outDir, `${i + 1}-${who}-${what}`);
      try {
        await page.screenshot({ path: at('failure.png'), fullPage: true });
        for (const f of page.frames()) writeFileSync(at(`frame-${f.name() || 'top'}.html`), await f.content());
      } catch (e) { /* the page may be gone */ }
    }
    console.error(`screenshots and frames kept in ${outDir}`);
    console.log(`browser journey ${name}: 0 passed, 1 failed`);
    process.exitCode = 1;
  }
  await browser.close();
}
