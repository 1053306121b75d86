// With the Japanese language file every GET form sends Shift_JIS bytes:
// every button of the menu, the board page and the message page is pressed
// and no "400 Bad Request" may come back.
import { button, check, click, logIn, newPage, open, openDemo, password, run, step } from './lib.mjs';

const page = await newPage();
const refused = [];
page.context().on('response', (r) => { if (r.status() === 400) refused.push(`${r.request().method()} ${r.url()}`); });
page.context().on('page', (p) => p.on('dialog', (d) => d.accept().catch(() => {})));
page.on('dialog', (d) => d.accept().catch(() => {}));
let pressed = 0;

// Opens a page with `open`, presses its n-th submit button, for every n;
// `last` names a button (by its form's JOB) pressed after all others.
async function pressAll(what, frame, open, last = '') {
  await open();
  const buttons = () => frame().locator(`form:not(:has(input[name=JOB][value="${last}"])) input[type=submit]`);
  const count = await buttons().count();
  check(count > 0, `${what} has buttons`);
  for (let i = 0; i < count; i++) {
    const at = `${what}: button ${i + 1} of ${count}`;
    step(at);
    await open();
    if (i >= await buttons().count()) break;
    await Promise.all([
      page.waitForResponse((r) => r.url().includes('/cgi-bin/')),
      buttons().nth(i).click(),
    ]);
    await page.waitForLoadState();
    for (const f of page.frames()) {
      const html = await f.content().catch(() => '');
      check(!html.includes('400 Bad Request'), `${at}: no "400 Bad Request" in ${f.name() || 'top'}`);
    }
    pressed++;
  }
  return count;
}

await run('(japan.lng)', async () => {
  step('log in');
  const { menu, main } = await logIn(page, 'admin', password);
  await openDemo(menu());
  const menuUrl = menu().url();
  const openMenu = async () => { await menu().goto(menuUrl); };
  const openBoard = async () => {
    await openMenu();
    await open(menu(), 'Notice board', main());
  };

  step('find a message');
  await openBoard();
  const link = main().locator('a[href*="JOB=DETAILS"]').first();
  const detailsUrl = new URL(await link.getAttribute('href'), main().url()).toString();
  const openDetails = async () => { await main().goto(detailsUrl); };

  await pressAll('board page', main, openBoard);
  await pressAll('message page', main, openDetails, 'DELMSG');
  await pressAll('message page', main, openDetails);
  await pressAll('menu', menu, openMenu, 'LOGOFF');

  step('log off');
  await openMenu();
  await click(menu(), button('LOGOFF'), page);
  pressed++;
  check(refused.length === 0, `no request refused: ${refused.join(', ')}`);

  console.log(`japan.lng: ${pressed} buttons pressed`);
});
