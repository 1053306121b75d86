// Unread tracking and search, after the main journey: a second member posts
// into two boards; the administrator excludes one from unread tracking, reads
// and ticks his unread messages, and searches by Japanese keyword and writer.
// MORVEL_SITE names the site's directory.
import { appendFileSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { button, check, click, fill, logIn, open, openDemo, password, run, step, text, writeMessage }
  from './lib.mjs';

const data = join(process.env.MORVEL_SITE || '', 'data');

// A member and a board "Second board" below the demo directory, open to
// every level, numbered after the folders there are.
appendFileSync(join(data, 'user.mst'), 'walker,Walker Sato,1,,walkpw,0,1,1,1,,,0,\n');
const tree = readFileSync(join(data, 'b_title.mst'), 'latin1');
const number = 1 + Math.max(0, ...tree.split('\n').map((l) => parseInt(l.split(',')[1], 10) || 0));
appendFileSync(join(data, 'b_title.mst'), `${tree.endsWith('\n') ? '' : '\n'} Second board,${number},Board,\n`);
const settings = Buffer.alloc(8800);
settings.writeInt32LE(number, 0);  // FOLDER_NO
settings.writeInt32LE(1, 16);  // READ_CHK
settings.writeInt32LE(1, 20);  // REWRITE_FLG
appendFileSync(join(data, 'b_title2.mst'), settings);

let menu, main, press;
async function logInAs(user, pass) {
  let page;
  ({ page, menu, main, press } = await logIn(user, user, pass));
  await openDemo(menu(), 'Second board');
  return page;
}

async function post(board, title) {
  await open(menu(), board, main());
  await writeMessage(main, { WRITE_TITLE: title, WRITE_DATA: `Body of ${title}` });
  await main().locator('a', { hasText: title }).waitFor();
}

// The menu's entry of a board, with its unread count in front of the name.
async function entry(board) {
  await menu().goto(menu().url());
  return (await menu().locator(`a:has(img[alt="${board}"])`).innerText()).trim();
}

async function search(fields) {
  await press('SEARCH');
  await fill(main(), fields, 'input[name=SUB]');
  return text(main());
}

await run('(unread, search)', async () => {
  step('the member posts into both boards');
  const walker = await logInAs('walker', 'walkpw');
  await post('Notice board', 'Unread one');
  await post('Notice board', 'Unread two');
  await post('Second board', 'Elsewhere news');
  await walker.close();

  step('the administrator sees unread counts');
  const page = await logInAs('admin', password);
  check(await entry('Notice board') === '(2)Notice board', 'two unread in Notice board');
  check(await entry('Second board') === '(1)Second board', 'one unread in Second board');

  step('exclude the second board');
  await press('SETNOREAD');
  await fill(main(), { BOARDLIST: { label: 'Second board' } }, 'input[name=BOARD_IN]');
  const excluded = await main().locator('select[name=NOWNOREAD] option').allInnerTexts();
  check(excluded.length === 1 && excluded[0].trim() === 'Second board', 'board in the left list');
  check(await entry('Second board') === 'Second board', 'count gone from the menu');

  step('unread list');
  await press('NRDETAILS');
  let shown = await text(main());
  check(shown.includes('Unread one') && shown.includes('Unread two'), 'new messages listed');
  check(!shown.includes('Elsewhere news'), 'excluded board not listed');
  check(!shown.includes('Hello from the browser'), 'own message not listed');

  step('tick one read');
  const box = main().locator('input[name=FOLSEL]').first();
  const value = await box.getAttribute('value');
  await box.check();
  page.once('dialog', (d) => d.accept());
  await click(main(), button('NRDETAILSWR'));
  check((await main().locator(`input[name=FOLSEL][value="${value}"]`).count()) === 0, 'ticked message gone');
  shown = await text(main());
  check(shown.includes('Unread one') !== shown.includes('Unread two'), 'one message left');
  check(await entry('Notice board') === '(1)Notice board', 'menu count lowered');

  step('search by a Japanese keyword');
  shown = await search({ CONDITION: '日本語' });
  check(shown.includes('Hello from the browser テスト'), 'Japanese message found');
  check(!shown.includes('Unread one') && !shown.includes('Elsewhere news'), 'nothing else found');

  step('search by writer');
  shown = await search({ WRITER: 'Administrator' });
  check(shown.includes('Hello from the browser テスト'), "administrator's message found");
  check(!shown.includes('Unread two') && !shown.includes('Elsewhere news'), "member's messages not found");
});
