// A member's main journey: log in, open the demo board, post a message with
// an attachment and Japanese text, open it, fetch the attachment, log off.
import { button, check, click, logIn, newPage, open, password, run, step } from './lib.mjs';

const title = 'Hello from the browser テスト';
const body = '日本語の本文です。\nSecond line: 表示';
const attachment = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));

await run('(main)', async () => {
  step('log in');
  const page = await newPage();
  const { menu, main } = await logIn(page, 'admin', password);

  step('open the demo directory and the board');
  await open(menu(), 'Demo', menu(), 'a:has(img[alt="Notice board"])');
  await open(menu(), 'Notice board', main(), button('BORDWRITE'));

  step('posting form');
  await click(main(), button('BORDWRITE'));
  await main().waitForSelector('textarea[name=WRITE_DATA]');
  await main().fill('input[name=WRITE_TITLE]', title);
  await main().fill('textarea[name=WRITE_DATA]', body);
  await main().setInputFiles('input[name=FILE1]',
    { name: 'data.bin', mimeType: 'application/octet-stream', buffer: attachment });

  step('store the message');
  await click(main(), 'input[name=SUB]');
  const link = main().locator('a', { hasText: title });
  await link.waitFor();

  step('open the message');
  await Promise.all([main().waitForNavigation(), link.click()]);
  const text = await main().locator('body').innerText();
  check(text.includes('日本語の本文です。'), 'Japanese body shown intact');
  check(text.includes('Second line: 表示'), 'second line shown');
  check(text.includes(title), 'Japanese title shown intact');

  step('download the attachment');
  const href = await main().locator('a', { hasText: 'data.bin' }).getAttribute('href');
  const got = Buffer.from(await (await page.request.get(new URL(href, main().url()).toString())).body());
  check(got.equals(attachment), `attachment bytes equal (${got.length} of ${attachment.length})`);

  step('log off');
  page.once('dialog', (d) => d.accept());
  await click(menu(), button('LOGOFF'), page);
  await page.waitForSelector('input[name=uid]');
});
