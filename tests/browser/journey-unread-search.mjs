// Unread tracking and search, after the main journey: a second member posts
// into two boards; the administrator excludes one from unread tracking, reads
// and ticks his unread messages, and searches by Japanese keyword and writer.
// MORVEL_SITE names the site's directory.
import { appendFileSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { button, check, click, logIn, newPage, open, password, run, step } from './lib.mjs';

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

let menu, main;
async function logInAs(user, pass) {
  const page = await newPage(user);
  ({ menu, main } = await logIn(page, user, pass));
  await open(menu(), 'Demo', menu(), 'a:has(img[alt="Second board"])');
  return page;
}

async function post(board, title) {
  await open(menu(), board, main());
  await click(main(), button('BORDWRITE'));
  await main().fill('input[name=WRITE_TITLE]', title);
  await main().fill('textarea[name=WRITE_DATA]', `Body of ${title}`);
  await click(main(), 'input[name=SUB]');
  await main().locator('a', { hasText: title }).waitFor();
}

// The menu's entry of a board, with its unread count in front of the name.
async function entry(board) {
  await menu().goto(menu().url());
  return (await menu().locator(`a:has(img[alt="${board}"])`).innerText()).trim();
}

const menuButton = (job) => click(menu(), button(job), main());

async function search(fields) {
  await menuButton('SEARCH');
  for (const [name, value] of Object.entries(fields)) await main().fill(`input[name=${name}]`, value);
  await click(main(), 'input[name=SUB]');
  return main().locator('body').innerText();
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
  await menuButton('SETNOREAD');
  await main().selectOption('select[name=BOARDLIST]', { label: 'Second board' });
  await click(main(), 'input[name=BOARD_IN]');
  const excluded = await main().locator('select[name=NOWNOREAD] option').allInnerTexts();
  check(excluded.length === 1 && excluded[0].trim() === 'Second board', 'board in the left list');
  check(await entry('Second board') === 'Second board', 'count gone from the menu');

  step('unread list');
  await menuButton('NRDETAILS');
  let text = await main().locator('body').innerText();
  check(text.includes('Unread one') && text.includes('Unread two'), 'new messages listed');
  check(!text.includes('Elsewhere news'), 'excluded board not listed');
  check(!text.includes('Hello from the browser'), 'own message not listed');

  step('tick one read');
  const box = main().locator('input[name=FOLSEL]').first();
  const value = await box.getAttribute('value');
  await box.check();
  page.once('dialog', (d) => d.accept());
  await click(main(), button('NRDETAILSWR'));
  check((await main().locator(`input[name=FOLSEL][value="${value}"]`).count()) === 0, 'ticked message gone');
  text = await main().locator('body').innerText();
  check(text.includes('Unread one') !== text.includes('Unread two'), 'one message left');
  check(await entry('Notice board') === '(1)Notice board', 'menu count lowered');

  step('search by a Japanese keyword');
  text = await search({ CONDITION: '日本語' });
  check(text.includes('Hello from the browser テスト'), 'Japanese message found');
  check(!text.includes('Unread one') && !text.includes('Elsewhere news'), 'nothing else found');

  step('search by writer');
  text = await search({ WRITER: 'Administrator' });
  check(text.includes('Hello from the browser テスト'), "administrator's message found");
  check(!text.includes('Unread two') && !text.includes('Elsewhere news'), "member's messages not found");
});
