// The administrator creates a group and a user in it; the user logs in,
// changes his password and language on the personal settings page, and
// logs in again with the new password to Japanese pages.
import { button, check, click, logIn, newPage, password, run, step } from './lib.mjs';

const uid = `journey${Date.now() % 100000}`;
const groupName = `Users journey group ${uid}`;

await run('(admin users)', async () => {
  step('administrator: group list');
  const { menu, main } = await logIn(await newPage('admin'), 'admin', password, 'input[type=submit]');
  await click(menu(), button('ADMIN'), main());
  await click(main(), button('GROUPLIST'));
  await click(main(), button('NEWGROUP'));

  step('administrator: new group');
  const groupNo = await main().inputValue('input[name=T02_GROUP_ID]');
  await main().fill('input[name=T02_GROUP_NAME]', groupName);
  await click(main(), 'form:has(input[name=JOB][value="NEWGROUPWR"]) input[name=SUB]');
  await main().locator('a', { hasText: groupName }).waitFor();

  step('administrator: new user');
  for (const job of ['ADMIN', 'USERLIST', 'USERMENT']) await click(main(), button(job));
  await main().fill('input[name=USER_ID]', uid);
  await main().fill('input[name=USER_PASS]', 'first1');
  await main().fill('input[name=USER_NAME]', 'Journey User');
  await main().fill('input[name=USER_LEVEL]', '1');
  await main().selectOption('select[name=P_GROUP]', groupNo);
  await click(main(), 'input[name=SUB1]');
  await main().waitForSelector(`input[name=USER_ID][value="${uid}"]`, { state: 'attached' });

  step('administrator: membership');
  await main().selectOption('select[name=GROUPLIST]', groupNo);
  await click(main(), 'input[name=GROUP_IN]');
  const member = await main().locator('select[name=NOWGROUP] option').allTextContents();
  check(member.map((t) => t.trim()).includes(groupName), `user is in the group (${member})`);

  step('new user: log in and see the demo folder');
  const page = await newPage('user');
  let user = await logIn(page, uid, 'first1');

  step('new user: personal settings');
  await click(user.menu(), button('MYDATA'), user.main());
  await user.main().fill('input[name=USER_PASS]', 'second2');
  await user.main().selectOption('select[name=LANGUAGE]', 'japan.lng');
  await click(user.main(), 'input[name=SUB1]');
  const after = await user.main().locator('body').innerText();
  check(after.includes('個人設定'), 'the saved settings page speaks Japanese');

  step('new user: log off');
  page.once('dialog', (d) => d.accept());
  await click(user.menu(), button('LOGOFF'), page);
  await page.waitForSelector('input[name=uid]');

  step('new user: the old password no longer works');
  await page.fill('input[name=uid]', uid);
  await page.fill('input[name=upw]', 'first1');
  await click(page, 'input[name=sub]');
  check(await page.locator('input[name=uid]').count() === 1, 'refused with the old password');

  step('new user: log in with the new password, in Japanese');
  user = await logIn(page, uid, 'second2', 'input[type=submit]');
  const labels = await user.menu().locator('input[type=submit]').evaluateAll(
    (inputs) => inputs.map((i) => i.value));
  check(labels.includes('個人設定') && labels.includes('ログオフ'), `Japanese menu (${labels})`);
});
