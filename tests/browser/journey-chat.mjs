// Two people in the demo chat room, each in a browser context of its own: a
// member (the administrator) and the guest account "chatguest". Both enter
// and write a Japanese line, each sees the other's line once the display
// frame reloads, the member leaves and the guest sees the leave notice, and
// the member's colour is offered again on his next entry.
// Usage: node journey-chat.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

const memberLine = 'こんにちは、メンバーです';
const guestName = 'ゲスト';
const guestLine = 'ゲストの発言です：表示';

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const pages = {};
let step = 'start';
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function newUser(who) {
  const context = await browser.newContext();
  const page = await context.newPage();
  page.setDefaultTimeout(15000);
  pages[who] = page;
  return page;
}

// The frame of that name once it exists (the chat frames live inside FRM22).
async function frame(page, name) {
  for (let i = 0; i < 100; i++) {
    const f = page.frame({ name });
    if (f) return f;
    await sleep(100);
  }
  throw new Error(`no frame ${name}`);
}

// Waits until the display frame shows `text`: it reloads itself on its timer.
async function shows(page, text, ms = 30000) {
  const until = Date.now() + ms;
  for (;;) {
    try {
      if ((await (await frame(page, 'CHAT2')).locator('body').innerText()).includes(text)) return;
    } catch (e) { /* the frame is reloading */ }
    if (Date.now() > until) throw new Error(`the display never showed "${text}"`);
    await sleep(300);
  }
}

async function logIn(page, uid) {
  await page.goto(base + '/cgi-bin/morvel.cgi');
  await page.fill('input[name=uid]', uid);
  await page.fill('input[name=upw]', password);
  await Promise.all([page.waitForNavigation(), page.click('input[name=sub]')]);
  const menu = await frame(page, 'FRM21');
  await menu.waitForSelector('a:has(img[alt="Demo"])');
  await Promise.all([menu.waitForNavigation(), menu.click('a:has(img[alt="Demo"])')]);
  await menu.waitForSelector('a:has(img[alt="Chat room"])');
}

// Opens the room from the menu; the input frame with its entry form.
async function openRoom(page) {
  const menu = await frame(page, 'FRM21');
  await Promise.all([(await frame(page, 'FRM22')).waitForNavigation(),
    menu.click('a:has(img[alt="Chat room"])')]);
  await sleep(200);
  const input = await frame(page, 'CHAT1');
  await input.waitForSelector('input[name=SUB]');
  return input;
}

async function enterAndSay(page, line) {
  const input = await frame(page, 'CHAT1');
  await Promise.all([input.waitForNavigation(), input.click('input[name=SUB]')]);
  await input.waitForSelector('input[name=MTALK]');
  await input.fill('input[name=MTALK]', line);
  await input.click('form[name=INPUT] input[type=submit]');
  await shows(page, line);
  check(await input.inputValue('input[name=MTALK]') === '', 'the input is emptied after saying');
}

try {
  step = 'member enters and writes';
  const member = await newUser('member');
  await logIn(member, 'admin');
  let input = await openRoom(member);
  await input.selectOption('select[name=COLOR_LIST]', 'RED');
  check(await input.inputValue('input[name=COLOR]') === 'RED', 'the colour list fills the colour');
  await input.selectOption('select[name=RELOAD_TIME]', '10');
  await enterAndSay(member, memberLine);
  await shows(member, '.Administrator has entered the room.');

  step = 'guest enters and writes';
  const guest = await newUser('guest');
  await logIn(guest, 'chatguest');
  input = await openRoom(guest);
  await input.fill('input[name=USER_NAME]', guestName);
  await input.selectOption('select[name=RELOAD_TIME]', '10');
  await enterAndSay(guest, guestLine);

  step = 'each sees the other';
  await shows(guest, memberLine);
  await shows(member, guestLine);
  const text = await (await frame(member, 'CHAT2')).locator('body').innerText();
  check(text.includes(`${guestName} > ${guestLine}`), 'the guest line with its name, no full stop');
  check(!text.includes(`.${guestName}`), 'no member mark on the guest');

  step = 'member leaves';
  input = await frame(member, 'CHAT1');
  await Promise.all([input.waitForNavigation(),
    input.click('form:has(input[name=FAST][value="3"]) input[type=submit]')]);
  await input.waitForSelector('input[name=SUB]');
  await shows(guest, '.Administrator has left the room.');

  step = 'member comes back';
  input = await openRoom(member);
  check(await input.inputValue('input[name=COLOR]') === 'RED', 'the member colour is remembered');
  check(await input.inputValue('select[name=RELOAD_TIME]') === '10', 'the reload interval is remembered');

  console.log('chat journey: 1 passed, 0 failed');
  await browser.close();
} catch (err) {
  console.error(`chat journey failed at "${step}": ${err.message}`);
  for (const [who, page] of Object.entries(pages)) {
    try {
      await page.screenshot({ path: join(outDir, `${who}-failure.png`), fullPage: true });
      for (const f of page.frames()) {
        writeFileSync(join(outDir, `${who}-frame-${f.name() || 'top'}.html`), await f.content());
      }
    } catch (e) { /* the page may be gone */ }
  }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('chat journey: 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
