// A member's main journey: log in, open the demo board, post a message with
// an attachment and Japanese text, open it, fetch the attachment, log off.
import { button, check, click, fill, logIn, open, openDemo, password, run, step, text } from './lib.mjs';

const title = 'Hello from the browser テスト';
const body = '日本語の本文です。\nSecond line: 表示';
const attachment = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7) % 256));

await run('(main)', async () => {
  step('log in');
  const { page, menu, main, logOff } = await logIn('page', 'admin', password);

  step('open the demo directory and the board');
  await openDemo(menu());
  await open(menu(), 'Notice board', main(), button('BORDWRITE'));

  step('posting form');
  await click(main(), button('BORDWRITE'));
  await main().waitForSelector('textarea[name=WRITE_DATA]');
  await fill(main(), { WRITE_TITLE: title, WRITE_DATA: body });
  await main().setInputFiles('input[name=FILE1]',
    { name: 'data.bin', mimeType: 'application/octet-stream', buffer: attachment });

  step('store the message');
  await click(main(), 'input[name=SUB]');
  await main().locator('a', { hasText: title }).waitFor();

  step('open the message');
  await click(main(), `a:has-text("${title}")`);
  const shown = await text(main());
  for (const t of ['日本語の本文です。', 'Second line: 表示', title]) check(shown.includes(t), `"${t}" shown intact`);

  step('download the attachment');
  const href = await main().locator('a', { hasText: 'data.bin' }).getAttribute('href');
  const got = Buffer.from(await (await page.request.get(new URL(href, main().url()).toString())).body());
  check(got.equals(attachment), `attachment bytes equal (${got.length} of ${attachment.length})`);

  step('log off');
  await logOff();
});
