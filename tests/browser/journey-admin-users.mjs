// The administrator creates a group and a user in it; the user logs in,
// changes his password and language on the personal settings page, and
// logs in again with the new password to Japanese pages.
import { button, check, click, fill, logIn, password, run, step, text } from './lib.mjs';

const uid = `journey${Date.now() % 100000}`;
const groupName = `Users journey group ${uid}`;

await run('(admin users)', async () => {
  step('administrator: group list');
  const { main, press } = await logIn('admin', 'admin', password, 'input[type=submit]');
  await press('ADMIN');
  await click(main(), button('GROUPLIST'));
  await click(main(), button('NEWGROUP'));

  step('administrator: new group');
  const groupNo = await main().inputValue('input[name=T02_GROUP_ID]');
  await fill(main(), { T02_GROUP_NAME: groupName }, 'form:has(input[name=JOB][value="NEWGROUPWR"]) input[name=SUB]');
  await main().locator('a', { hasText: groupName }).waitFor();

  step('administrator: new user');
  for (const job of ['ADMIN', 'USERLIST', 'USERMENT']) await click(main(), button(job));
  await fill(main(), { USER_ID: uid, USER_PASS: 'first1', USER_NAME: 'Journey User', USER_LEVEL: '1',
    P_GROUP: groupNo }, 'input[name=SUB1]');
  await main().waitForSelector(`input[name=USER_ID][value="${uid}"]`, { state: 'attached' });

  step('administrator: membership');
  await fill(main(), { GROUPLIST: groupNo }, 'input[name=GROUP_IN]');
  const member = await main().locator('select[name=NOWGROUP] option').allTextContents();
  check(member.map((t) => t.trim()).includes(groupName), `user is in the group (${member})`);

  step('new user: log in and see the demo folder');
  let user = await logIn('user', uid, 'first1');
  const { page } = user;

  step('new user: personal settings');
  await user.press('MYDATA');
  await fill(user.main(), { USER_PASS: 'second2', LANGUAGE: 'japan.lng' }, 'input[name=SUB1]');
  check((await text(user.main())).includes('個人設定'), 'the saved settings page speaks Japanese');

  step('new user: log off');
  await user.logOff();

  step('new user: the old password no longer works');
  await fill(page, { uid, upw: 'first1' }, 'input[name=sub]');
  check(await page.locator('input[name=uid]').count() === 1, 'refused with the old password');

  step('new user: log in with the new password, in Japanese');
  user = await logIn(page, uid, 'second2', 'input[type=submit]');
  const labels = await user.menu().locator('input[type=submit]').evaluateAll(
    (inputs) => inputs.map((i) => i.value));
  check(labels.includes('個人設定') && labels.includes('ログオフ'), `Japanese menu (${labels})`);
});
