// Stored script never runs: messages whose title and body would change the
// page title if any of their script ran leave the room list and the message
// page unchanged even when every element is hovered, clicked and loaded.
import { button, check, click, fill, logIn, newPage, open, openDemo, password, run, step, text } from './lib.mjs';

const pwn = `document.title='pwned'`;
const messages = [
  { title: `XSS-A<img src=x onerror="${pwn}">`, mode: '2', body: [
    `<ScRiPt>${pwn}</sCrIpT>`,
    `<IMG\nSRC=x\tONERROR\n=\n"${pwn}">`,
    `<a href="&#x6A;avascript&colon;${pwn}">a3</a>`,
    `<svg onload="${pwn}"></svg>`,
  ].join('\n') },
  { title: `XSS-B<a href="javascript:${pwn}">t</a>`, mode: '0', body:
    `http://x.test/"onmouseover=${pwn}// and <ScRiPt>${pwn}</ScRiPt>` },
];

const page = await newPage();
const dialogs = [];
page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss().catch(() => {}); });

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

await run('(stored script)', async () => {
  step('log in');
  const { menu, main } = await logIn(page, 'admin', password);
  await openDemo(menu());
  await open(menu(), 'Notice board', main());

  for (const m of messages) {
    step(`post ${m.title.slice(0, 5)}`);
    await click(main(), button('BORDWRITE'));
    await fill(main(), { WRITE_TITLE: m.title, WRITE_DATA: m.body, HTML_MODE: m.mode }, 'input[name=SUB]');
  }

  step('room list');
  await main().locator('a', { hasText: 'XSS-B' }).waitFor();
  await untouched(main(), 'room list');

  for (const tag of ['XSS-A', 'XSS-B']) {
    step(`message ${tag}`);
    await Promise.all([main().waitForNavigation(), main().locator('a', { hasText: tag }).first().click()]);
    check((await text(main())).includes(tag), `${tag} shown`);
    await untouched(main(), `message ${tag}`);
    if (tag === 'XSS-B') {
      const href = await main().locator('a', { hasText: 'http://x.test/' }).getAttribute('href');
      check(href === `http://x.test/"onmouseover=${pwn}//`, `auto-link keeps the whole address (${href})`);
    }
    await open(menu(), 'Notice board', main());
  }
  check(dialogs.length === 0, `no dialog opened (${dialogs.join(', ')})`);
});
