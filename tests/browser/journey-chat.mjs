// A member and the guest account "chatguest" in the demo chat room: both
// write, each sees the other's line, the guest sees the member leave, and the
// member's colour is offered again on his next entry.
import { check, click, frame, logIn, open, openDemo, password, run, sleep, step } from './lib.mjs';

const memberLine = 'こんにちは、メンバーです';
const guestName = 'ゲスト';
const guestLine = 'ゲストの発言です：表示';

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

// Logs `uid` in as `who`, opens the room from the menu; the page and the
// input frame with its entry form.
async function enterRoom(who, uid) {
  const { page, menu } = await logIn(who, uid, password);
  await openDemo(menu(), 'Chat room');
  return [page, await openRoom(page)];
}
async function openRoom(page) {
  await open(await frame(page, 'FRM21'), 'Chat room', await frame(page, 'FRM22'));
  await sleep(200);
  const input = await frame(page, 'CHAT1');
  await input.waitForSelector('input[name=SUB]');
  return input;
}

async function enterAndSay(page, input, line) {
  await click(input, 'input[name=SUB]');
  await input.waitForSelector('input[name=MTALK]');
  await input.fill('input[name=MTALK]', line);
  await input.click('form[name=INPUT] input[type=submit]');
  await shows(page, line);
  check(await input.inputValue('input[name=MTALK]') === '', 'the input is emptied after saying');
}

await run('(chat)', async () => {
  step('member enters and writes');
  let [member, input] = await enterRoom('member', 'admin');
  await input.selectOption('select[name=COLOR_LIST]', 'RED');
  check(await input.inputValue('input[name=COLOR]') === 'RED', 'the colour list fills the colour');
  await input.selectOption('select[name=RELOAD_TIME]', '10');
  await enterAndSay(member, input, memberLine);
  await shows(member, '.Administrator has entered the room.');

  step('guest enters and writes');
  const [guest, guestInput] = await enterRoom('guest', 'chatguest');
  await guestInput.fill('input[name=USER_NAME]', guestName);
  await guestInput.selectOption('select[name=RELOAD_TIME]', '10');
  await enterAndSay(guest, guestInput, guestLine);

  step('each sees the other');
  await shows(guest, memberLine);
  await shows(member, guestLine);
  const text = await (await frame(member, 'CHAT2')).locator('body').innerText();
  check(text.includes(`${guestName} > ${guestLine}`), 'the guest line with its name, no full stop');
  check(!text.includes(`.${guestName}`), 'no member mark on the guest');

  step('member leaves');
  input = await frame(member, 'CHAT1');
  await click(input, 'form:has(input[name=FAST][value="3"]) input[type=submit]');
  await input.waitForSelector('input[name=SUB]');
  await shows(guest, '.Administrator has left the room.');

  step('member comes back');
  input = await openRoom(member);
  check(await input.inputValue('input[name=COLOR]') === 'RED', 'the member colour is remembered');
  check(await input.inputValue('select[name=RELOAD_TIME]') === '10', 'the reload interval is remembered');
});
