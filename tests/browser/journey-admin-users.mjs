// The administrator's journey through users and groups, then the new
// user's own: the administrator creates a group and a user in it; the user
// logs in in a browser context of his own, sees the demo folder, changes
// his password and his language to Japanese on the personal settings page,
// logs off, logs in again with the new password and sees the pages in
// Japanese. Usage: node journey-admin-users.mjs BASE_URL PASSWORD OUT_DIR
import { chromium } from 'playwright-core';
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [base, password, outDir] = process.argv.slice(2);
mkdirSync(outDir, { recursive: true });

const uid = `journey${Date.now() % 100000}`;
const groupName = `Users journey group ${uid}`;

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const adminPage = await (await browser.newContext()).newPage();
const userPage = await (await browser.newContext()).newPage();
for (const p of [adminPage, userPage]) p.setDefaultTimeout(15000);
let step = 'start';
const check = (cond, what) => { if (!cond) throw new Error(`check failed: ${what}`); };

async function logIn(page, id, pw) {
  await page.goto(base + '/cgi-bin/morvel.cgi');
  await page.fill('input[name=uid]', id);
  await page.fill('input[name=upw]', pw);
  await Promise.all([page.waitForNavigation(), page.click('input[name=sub]')]);
  await page.waitForSelector('frame[name=FRM21]', { state: 'attached' });
  await page.frame({ name: 'FRM21' }).waitForSelector('input[type=submit]');
  return { menu: () => page.frame({ name: 'FRM21' }), main: () => page.frame({ name: 'FRM22' }) };
}
// Submits the form of the frame whose hidden JOB has the value `job`.
async function press(frame, job, button = 'input[type=submit]') {
  await Promise.all([frame().waitForNavigation(),
    frame().click(`form:has(input[name=JOB][value="${job}"]) ${button}`)]);
}

try {
  step = 'administrator: group list';
  const admin = await logIn(adminPage, 'admin', password);
  await Promise.all([admin.main().waitForNavigation(),
    admin.menu().click('form:has(input[name=JOB][value=ADMIN]) input[type=submit]')]);
  await press(admin.main, 'GROUPLIST');
  await press(admin.main, 'NEWGROUP');

  step = 'administrator: new group';
  const groupNo = await admin.main().inputValue('input[name=T02_GROUP_ID]');
  await admin.main().fill('input[name=T02_GROUP_NAME]', groupName);
  await press(admin.main, 'NEWGROUPWR', 'input[name=SUB]');
  await admin.main().locator('a', { hasText: groupName }).waitFor();

  step = 'administrator: new user';
  await press(admin.main, 'ADMIN');
  await press(admin.main, 'USERLIST');
  await press(admin.main, 'USERMENT');
  await admin.main().fill('input[name=USER_ID]', uid);
  await admin.main().fill('input[name=USER_PASS]', 'first1');
  await admin.main().fill('input[name=USER_NAME]', 'Journey User');
  await admin.main().fill('input[name=USER_LEVEL]', '1');
  await admin.main().selectOption('select[name=P_GROUP]', groupNo);
  await Promise.all([admin.main().waitForNavigation(), admin.main().click('input[name=SUB1]')]);
  await admin.main().waitForSelector(`input[name=USER_ID][value="${uid}"]`, { state: 'attached' });

  step = 'administrator: membership';
  await admin.main().selectOption('select[name=GROUPLIST]', groupNo);
  await Promise.all([admin.main().waitForNavigation(), admin.main().click('input[name=GROUP_IN]')]);
  const member = await admin.main().locator('select[name=NOWGROUP] option').allTextContents();
  check(member.map((t) => t.trim()).includes(groupName), `user is in the group (${member})`);

  step = 'new user: log in and see the demo folder';
  let user = await logIn(userPage, uid, 'first1');
  await user.menu().waitForSelector('a:has(img[alt="Demo"])');

  step = 'new user: personal settings';
  await Promise.all([user.main().waitForNavigation(),
    user.menu().click('form:has(input[name=JOB][value=MYDATA]) input[type=submit]')]);
  await user.main().fill('input[name=USER_PASS]', 'second2');
  await user.main().selectOption('select[name=LANGUAGE]', 'japan.lng');
  await Promise.all([user.main().waitForNavigation(), user.main().click('input[name=SUB1]')]);
  const after = await user.main().locator('body').innerText();
  check(after.includes('個人設定'), 'the saved settings page speaks Japanese');

  step = 'new user: log off';
  userPage.once('dialog', (d) => d.accept());
  await Promise.all([userPage.waitForNavigation(),
    user.menu().click('form:has(input[name=JOB][value=LOGOFF]) input[type=submit]')]);
  await userPage.waitForSelector('input[name=uid]');

  step = 'new user: the old password no longer works';
  await userPage.fill('input[name=uid]', uid);
  await userPage.fill('input[name=upw]', 'first1');
  await Promise.all([userPage.waitForNavigation(), userPage.click('input[name=sub]')]);
  check(await userPage.locator('input[name=uid]').count() === 1, 'refused with the old password');

  step = 'new user: log in with the new password, in Japanese';
  user = await logIn(userPage, uid, 'second2');
  const labels = await user.menu().locator('input[type=submit]').evaluateAll(
    (inputs) => inputs.map((i) => i.value));
  check(labels.includes('個人設定') && labels.includes('ログオフ'), `Japanese menu (${labels})`);

  console.log('browser journey (admin users): 1 passed, 0 failed');
  await browser.close();
} catch (err) {
  console.error(`browser journey (admin users) failed at "${step}": ${err.message}`);
  try {
    for (const [who, page] of [['admin', adminPage], ['user', userPage]]) {
      await page.screenshot({ path: join(outDir, `failure-${who}.png`), fullPage: true });
      for (const f of page.frames())
        writeFileSync(join(outDir, `${who}-frame-${f.name() || 'top'}.html`), await f.content());
    }
  } catch (e) { /* the page may be gone */ }
  console.error(`screenshots and frames kept in ${outDir}`);
  console.log('browser journey (admin users): 0 passed, 1 failed');
  await browser.close();
  process.exit(1);
}
