// A patient books a seasonal vaccination on a phone-sized screen in Debian's chromium, giving her
// e-mail address, then checks and cancels it with the number and code the done page showed; the
// confirmation and the cancellation notice arrive at a mail server of the test's own
// (tests/mail/smtp-server.py). qrb-web runs on a new workspace.
// Every state of the pages is checked on the way at 320 and 390 px: axe-core finds no WCAG 2.1 A/AA
// fault, nothing is wider than the screen, and every target is at least 44×44 px.
// QRB_BIN_DIR: the build folder; QRB_SCREENSHOTS: a folder to keep a picture of every page at both widths.
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync, mkdirSync, readdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { createServer as createHttpServer } from 'node:http';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';

const bin = process.env.QRB_BIN_DIR;
const shots = process.env.QRB_SCREENSHOTS;
const folder = mkdtempSync(join(tmpdir(), 'qrb-web-browser-'));
const freePort = () => new Promise((resolve) => {
  const probe = createServer().listen(0, '127.0.0.1', () => {
    const { port } = probe.address();
    probe.close(() => resolve(port));
  });
});
const port = await freePort();
const smtpPort = await freePort();
const mails = join(folder, 'mails');
mkdirSync(mails);
execFileSync('openssl', ['req', '-new', '-x509', '-days', '2', '-nodes', '-newkey', 'ec', '-pkeyopt',
  'ec_paramgen_curve:prime256v1', '-subj', '/CN=localhost', '-addext', 'subjectAltName=IP:127.0.0.1',
  '-keyout', join(folder, 'smtp.key'), '-out', join(folder, 'smtp.crt')], { stdio: 'ignore' });
const smtp = spawn('/usr/bin/python3', [join(dirname(fileURLToPath(import.meta.url)), '../../mail/smtp-server.py'),
  '--port', `${smtpPort}`, '--dir', mails, '--tls', join(folder, 'smtp.crt'), join(folder, 'smtp.key')],
{ stdio: ['pipe', 'pipe', 'inherit'] }); // it ends when its input closes, with this script
await new Promise((resolve, reject) => {
  smtp.stdout.on('data', (chunk) => { if (chunk.toString().includes('ready')) resolve(); });
  smtp.on('exit', (code) => reject(new Error(`smtp-server.py ended with ${code}`)));
});
// The mails the server has taken so far, in order, as Python's email package read them.
async function mailsArrived(count) {
  for (let i = 0; i < 600; i++) {
    const names = readdirSync(mails).filter((n) => n.endsWith('.json')).sort();
    if (names.length >= count) return names.map((n) => JSON.parse(readFileSync(join(mails, n), 'utf8')));
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error(`${count} mails expected, ${readdirSync(mails).length} arrived`);
}
const axe = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
// One place a slot, so that the slot she books shows as full; the clinic closed four days on.
const tokyoDay = (days) => new Intl.DateTimeFormat('sv-SE', { timeZone: 'Asia/Tokyo' })
  .format(new Date(Date.now() + days * 86400000));
const closed = tokyoDay(4);
execFileSync(join(bin, 'tools/qrb-initdb'), [join(folder, 'yoyaku.db'), '--places', '1']);
writeFileSync(join(folder, 'setting.ini'),
  `[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n[WEB]\r\nPORT=${port}\r\nTEL=03-1234-5678\r\n` +
  'TIMEZONE=Asia/Tokyo\r\nKINDS=\x8bG\x90\xdf\x90\xab,\x90V\x8c^\r\nNOTICE=Please bring your insurance card.\r\n' + // 季節性,新型 in CP932
  `[MAIL]\r\nHOST=127.0.0.1\r\nPORT=${smtpPort}\r\nFROM=yoyaku@example.jp\r\nURL=https://yoyaku.example.jp\r\n` +
  'CAFILE=smtp.crt\r\n' +
  `[CLOSED]\r\n\x89\x40\x93\xe0\x8c\xa4\x8f\x43=${closed.replaceAll('-', '/')}\r\n`, 'latin1'); // 院内研修

const server = spawn(join(bin, 'tools/qrb-web'), [], { cwd: folder, stdio: ['ignore', 'ignore', 'pipe'] });
await new Promise((resolve, reject) => {
  server.stderr.on('data', (chunk) => { if (chunk.toString().includes('http://')) resolve(); });
  server.on('exit', (code) => reject(new Error(`qrb-web ended with ${code}`)));
});
const base = `http://127.0.0.1:${port}`;
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});

// The checks of one page state, at both phone widths; a picture of each when asked.
const faults = [];
async function check(page, name) {
  await page.evaluate(axe);
  for (const width of [320, 390]) {
    await page.setViewport({ width, height: 844 });
    const found = await page.evaluate(async () => {
      const wider = document.documentElement.scrollWidth - window.innerWidth;
      const targets = [...document.querySelectorAll(
        'a, button, select, textarea, input:not([type=hidden]):not([type=radio]), label:has(input[type=radio])')]
        .filter((e) => e.getClientRects().length > 0)
        .map((e) => [e, e.getBoundingClientRect()])
        .filter(([, r]) => r.width < 44 || r.height < 44)
        .map(([e, r]) => `small target ${e.tagName} "${e.textContent.trim().slice(0, 12)}" ${r.width}×${r.height}`);
      const { violations } = await window.axe.run(document,
        { runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] } });
      return [...(wider > 0 ? [`${wider}px wider than the screen`] : []), ...targets,
        ...violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`)];
    });
    faults.push(...found.map((f) => `${name} at ${width}px: ${f}`));
    if (shots) {
      mkdirSync(shots, { recursive: true });
      await page.screenshot({ path: join(shots, `${name}-${width}.png`), fullPage: true });
    }
  }
  await page.setViewport({ width: 390, height: 844 });
}

async function go(page, action) {
  await Promise.all([page.waitForNavigation(), action()]);
}

try {
  const page = await browser.newPage();
  const blocked = []; // what the page's policy refused: nothing may be
  page.on('console', (m) => { if (/Content.Security.Policy|Refused/i.test(m.text())) blocked.push(m.text()); });
  await page.setViewport({ width: 390, height: 844 });
  await page.goto(`${base}/`);
  await check(page, '1-days');
  const [, month, date] = closed.split('-').map(Number);
  const lines = await page.$$eval('ul.days li', (items) => items.map((e) => e.innerText));
  assert.match(lines.find((l) => l.includes(`${month}月${date}日`)), /休診日（院内研修）/);
  await page.goto(`${base}/day?d=${closed}`);
  assert.match(await page.$eval('main', (m) => m.innerText), /休診日（院内研修）のため、この日は予約できません。/);
  await check(page, '2-closed');
  await page.goto(`${base}/`);
  // Tomorrow: today's slots may already be past.
  const day = await page.$eval('ul.days li:nth-child(2) a', (a) => a.getAttribute('href'));
  await go(page, () => page.click('ul.days li:nth-child(2) a'));
  await check(page, '3-hours');
  const slot = await page.$eval('ul.slots li:first-child a', (a) => a.getAttribute('href'));
  await go(page, () => page.click('ul.slots li:first-child a'));
  // The second dose's choice shows only while 新型 is chosen.
  const secondShown = () => page.$eval('#second-field', (e) => e.getClientRects().length > 0);
  assert.equal(await secondShown(), false);
  await check(page, '4-form');
  await go(page, () => page.click('button[type=submit]')); // sent empty: every field is named
  assert.equal(await page.$$eval('p.error', (e) => e.length), 6);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'errors'); // the summary is read first
  assert.equal(await page.$$eval('#errors li a', (e) => e.length), 6);
  await page.click('input[name=kind][value="1"]');
  assert.equal(await secondShown(), true);
  assert.equal(await page.$eval('#f-name', (e) => e.getAttribute('aria-describedby')), 'e-name');
  await check(page, '5-form-errors');
  await page.type('#f-name', '山田 花子');
  await page.type('#f-kana', 'やまだ はなこ');
  await page.select('#f-era', '3'); // 昭和, and the six digits a phone's number pad types
  await page.type('#f-birth', '600412');
  await page.type('#f-tel', '090-1234-5678');
  // The address is optional (the six errors above did not name it) and typed as a phone types it.
  assert.deepEqual(await page.$eval('#f-email', (e) => [e.type, e.autocomplete, e.required]), ['email', 'email', false]);
  await page.type('#f-email', 'hanako@example.jp');
  await page.type('#f-remarks', '<b>卵アレルギー</b>');
  await page.click('input[name=visited][value="2"]');
  await page.click('input[name=kind][value="0"]');
  assert.equal(await secondShown(), false);
  await go(page, () => page.click('button[type=submit]'));
  const confirmText = await page.$eval('main', (m) => m.innerText);
  assert.match(confirmText, /ヤマダ ハナコ/);
  assert.match(confirmText, /1985年4月12日・昭和60年/);
  await check(page, '6-confirm');
  await go(page, () => page.click('button[type=submit]:not(.secondary)'));
  assert.match(page.url(), /\/done\?s=/);
  const yno = await page.$eval('#yno', (e) => e.textContent);
  const code = await page.$eval('#code', (e) => e.textContent);
  assert.match(code, /^[0-9A-Z]{4}(-[0-9A-Z]{4}){3}$/);
  assert.match(await page.$eval('main', (m) => m.innerText), /<b>卵アレルギー<\/b>/);
  await check(page, '7-done');
  const [confirmation] = await mailsArrived(1);
  assert.deepEqual(confirmation.to, ['hanako@example.jp']);
  assert.ok(confirmation.tls);
  assert.match(confirmation.text, new RegExp(`予約番号 ${yno}）[\\s\\S]*取消コード: ${code}`));
  assert.ok(confirmation.text.includes(`https://yoyaku.example.jp/check?yno=${yno}\r\n`));
  // Back shows the confirm page again without asking to send it; reload of the done page shows it again.
  await page.goBack();
  assert.match(await page.$eval('h1', (e) => e.textContent), /予約内容の確認/);
  await page.goForward();
  await page.reload();
  assert.equal(await page.$eval('#code', (e) => e.textContent), code);
  assert.match(await page.$eval('main', (m) => m.innerText), /予約の確認のメールをお送りします/);
  // Her slot, the only place, is now shown taken.
  await page.goto(`${base}${day}`);
  assert.equal(await page.$$eval(`a[href="${slot}"]`, (e) => e.length), 0);
  assert.match(await page.$eval('ul.slots li:first-child', (e) => e.innerText), /×\s*満員/);
  await check(page, '8-full');

  await page.goto(`${base}/check`);
  await page.type('#f-yno', yno);
  await page.type('#f-code', code.toLowerCase());
  await check(page, '9-check');
  await go(page, () => page.click('button[type=submit]'));
  assert.match(await page.$eval('main', (m) => m.innerText), /山田 花子/);
  await check(page, '10-booking');
  await go(page, () => page.click('button.danger'));
  assert.match(await page.$eval('h1', (e) => e.textContent), /予約を取り消しました/);
  await check(page, '11-cancelled');
  const cancelled = (await mailsArrived(2))[1];
  assert.equal(cancelled.subject, `ご予約を取り消しました（予約番号 ${yno}）`);
  // Back shows the booking's page again, now cancelled, without asking to send anything again.
  await page.goBack();
  assert.match(page.url(), /\/booking\?s=/);
  assert.match(await page.$eval('h1', (e) => e.textContent), /予約は取り消されています/);
  // The same number and code again are told the booking is cancelled.
  await page.goto(`${base}/check`);
  await page.type('#f-yno', yno);
  await page.type('#f-code', code);
  await go(page, () => page.click('button[type=submit]'));
  assert.match(await page.$eval('h1', (e) => e.textContent), /予約は取り消されています/);
  assert.deepEqual(blocked, []);
  assert.deepEqual(faults, []);

  // With the check form open in one tab, the patient follows the booking link on the clinic's own
  // site (another site) in a second tab: her cookie comes along and stays, and the form is still taken.
  const form = await browser.newPage();
  await form.goto(`${base}/check`);
  const clinic = createHttpServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(`<a id="book" href="${base}/">Web予約</a>`);
  });
  await new Promise((resolve) => clinic.listen(0, 'localhost', resolve));
  const link = await browser.newPage();
  await link.goto(`http://localhost:${clinic.address().port}/`);
  await go(link, () => link.click('#book'));
  clinic.close();
  await form.bringToFront();
  await form.type('#f-yno', yno);
  await form.type('#f-code', code);
  await go(form, () => form.click('button[type=submit]'));
  assert.match(await form.$eval('h1', (e) => e.textContent), /予約は取り消されています/);
  console.log(`booked ${yno} and cancelled it, with both mails: 1 passed, 0 failed`);
} finally {
  await browser.close();
  server.kill();
  smtp.kill();
  rmSync(folder, { recursive: true, force: true });
}
