// Stored script never runs: a member posts messages whose title and body
// would change the page title if any of their script ran (script tags,
// event attributes, javascript: links, a quote in an auto-linked address,
// mixed case, character references); the room list and the message page
// then stay unchanged even when every element is hovered, clicked and
// loaded. Usage: node journey-filter.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

const run = `document.title='pwned'`;
const messages = [
  { title: `XSS-A<img src=x onerror="${run}">`, mode: '2', body: [
    `<script>${run}</script>`,
    `<ScRiPt>${run}</sCrIpT>`,
    `<img src=x onerror="${run}">`,
    `<img/src="x"/onerror=${run}>`,
    `<IMG\nSRC=x\tONERROR\n=\n"${run}">`,
    `<a href="javascript:${run}">a1</a>`,
    `<a href="java&#115;cript:${run}">a2</a>`,
    `<a href="&#x6A;avascript&colon;${run}">a3</a>`,
    `<a href=" JaVaScRiPt:${run}">a4</a>`,
    `<svg onload="${run}"></svg>`,
    `<b onmouseover="${run}">b</b>`,
    `<iframe src="javascript:${run}"></iframe>`,
  ].join('\n') },
  { title: `XSS-B<a href="javascript:${run}">t</a>`, mode: '0', body:
    `http://x.test/"onmouseover=${run}// and <ScRiPt>${run}</ScRiPt>` },
];

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await browser.newPage();
page.setDefaultTimeout(15000);
const dialogs = [];
page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss().catch(() => {}); });
let step = 'start';
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };

// Fires what a reader could set off on every element of the frame, then
// checks that no script ran and no link leads to script.
async function untouched(frame, what) {
  const bad = await frame.evaluate(async () => {
    for (const e of document.querySelectorAll('body *')) {
      for (const type of ['mouseover', 'mouseenter', 'focus', 'load', 'error'])
        e.dispatchEvent(new Event(type, { bubbles: true }));
      if (e.tagName !== 'A' || !/^\s*javascript:/i.test(e.getAttribute('href') || '')) continue;
      return `script link: ${e.outerHTML}`;
    }
    for (const a of document.querySelectorAll('a')) if (!a.getAttribute('href')) a.click();
    await new Promise((r) => setTimeout(r, 300));
    const live = document.querySelectorAll('script:not([src]), iframe, svg, [onerror], [onload], [onmouseover]');
    for (const e of live) if (e.textContent.includes('pwned') || e.outerHTML.includes('pwned')) return `live element: ${e.outerHTML}`;
    return document.title === 'pwned' ? 'title changed' : '';
  });
  check(!bad, `${what}: ${bad}`);
  check(await page.title() !== 'pwned', `${what}: top title unchanged`);
}

try {
  step = 'log in';
  await page.goto(base + '/cgi-bin/morvel.cgi');
  await page.fill('input[name=uid]', 'admin');
  await page.fill('input[name=upw]', password);
  await Promise.all([page.waitForNavigation(), page.click('input[name=sub]')]);
  await page.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  const menu = () => page.frame({ name: 'FRM21' });
  const main = () => page.frame({ name: 'FRM22' });
  await menu().waitForSelector('a:has(img[alt="Demo"])');
  await Promise.all([menu().waitForNavigation(), menu().click('a:has(img[alt="Demo"])')]);
  await menu().waitForSelector('a:has(img[alt="Notice board"])');
  await Promise.all([main().waitForNavigation(), menu().click('a:has(img[alt="Notice board"])')]);

  for (const m of messages) {
    step = `post ${m.title.slice(0, 5)}`;
    const write = 'form:has(input[name=JOB][value=BORDWRITE]) input[type=submit]';
    await main().waitForSelector(write);
    await Promise.all([main().waitForNavigation(), main().click(write)]);
    await main().fill('input[name=WRITE_TITLE]', m.title);
    await main().fill('textarea[name=WRITE_DATA]', m.body);
    await main().selectOption('select[name=HTML_MODE]', m.mode);
    await Promise.all([main().waitForNavigation(), main().click('input[name=SUB]')]);
  }

  step = 'room list';
  await main().locator('a', { hasText: 'XSS-B' }).waitFor();
  await untouched(main(), 'room list');

  for (const tag of ['XSS-A', 'XSS-B']) {
    step = `message ${tag}`;
    await Promise.all([main().waitForNavigation(), main().locator('a', { hasText: tag }).first().click()]);
    const text = await main().locator('body').innerText();
    check(text.includes(tag), `${tag} shown`);
    await untouched(main(), `message ${tag}`);
    if (tag === 'XSS-B') {
      const href = await main().locator('a', { hasText: 'http://x.test/' }).getAttribute('href');
      check(href === `http://x.test/"onmouseover=${run}//`, `auto-link keeps the whole address (${href})`);
    }
    await Promise.all([main().waitForNavigation(), menu().click('a:has(img[alt="Notice board"])')]);
  }
  check(dialogs.length === 0, `no dialog opened (${dialogs.join(', ')})`);

  console.log('browser journey (stored script): 1 passed, 0 failed');
  await browser.close();
} catch (err) {
  console.error(`browser journey (stored script) failed at "${step}": ${err.message}`);
  try {
    await page.screenshot({ path: join(outDir, 'failure.png'), fullPage: true });
    for (const f of page.frames()) {
      writeFileSync(join(outDir, `frame-${f.name() || 'top'}.html`), await f.content());
    }
  } catch (e) { /* the page may be gone */ }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('browser journey (stored script): 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
