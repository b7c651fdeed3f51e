// The status page in the system's Chromium: each test starts its own `QarCfg serve`
// on a free loopback port over its own settings file, SQLite database and logs.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdirSync, rmSync, writeFileSync, readFileSync, copyFileSync } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';
import { chromium } from 'playwright-core';

const here = path.dirname(new URL(import.meta.url).pathname);
const bin = path.resolve(process.env.QAR_BIN_DIR ?? path.join(here, '../../build/posix/src'));
const sandboxRoot = path.resolve(process.env.QAR_BROWSER_SANDBOX ?? path.join(here, '../../build/browser-sandbox'));
const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const started = [];
const installations = [];
let counter = 0;

// Stops what the tests started, then removes their installations (QAR_KEEP_SANDBOX keeps them).
after(async () => {
  const running = started.filter((child) => child.exitCode === null && child.signalCode === null);
  await Promise.all(running.map((child) => new Promise((resolve) => { child.once('exit', resolve); child.kill('SIGTERM'); })));
  if (!process.env.QAR_KEEP_SANDBOX) for (const dir of installations) rmSync(dir, { recursive: true, force: true });
});

// A fresh installation: settings file, database with CTRLEXECREM, log directory.
function install(name) {
  const dir = path.join(sandboxRoot, `${process.pid}_${counter++}_${name}`);
  rmSync(dir, { recursive: true, force: true });
  installations.push(dir);
  mkdirSync(path.join(dir, 'logs'), { recursive: true });
  mkdirSync(path.join(dir, 'run'), { recursive: true, mode: 0o700 });
  const env = { ...process.env, QARSNC_HKLM: path.join(dir, 'HKLM.reg'), XDG_RUNTIME_DIR: path.join(dir, 'run') };
  const db = path.join(dir, 'store.db');
  const qarcfg = (...args) => execFileSync(path.join(bin, 'QarCfg.exe'), args, { env, encoding: 'utf8' });
  qarcfg('set-connection', `Provider=SQLite;Data Source=${db}`, '--create');
  qarcfg('set', 'TmpFileDir', path.join(dir, 'logs') + '/');
  qarcfg('enqueue', '--filial', '001', '--caixa', '01');  // creates the table as the agent would
  const sql = (text) => execFileSync('sqlite3', [db, text], { encoding: 'utf8' }).trim();
  sql('DELETE FROM CTRLEXECREM; DELETE FROM sqlite_sequence');  // ids from 1 again
  return { dir, env, db, qarcfg, sql };
}

// Rows inserted `days` ago (0: today), in one statement.
function insert(inst, rows) {
  const quote = (text) => `'${text.replaceAll("'", "''")}'`;
  const values = rows.map(([status, operation, days = 0, error = '']) =>
    `('T','SYNC',${quote(operation)},'${status}',${quote(error)},datetime('now','localtime','-${days} days'))`);
  inst.sql(`INSERT INTO CTRLEXECREM (CDAPP,TPOPERACAO,DSOPERACAO,IDSTCTRLEXECREM,DSERRO,DTINCLUSAO) VALUES ${values.join(',')}`);
}

// Starts a program of the installation; resolves with the address it printed (and the
// access token that address carries, when it made one).
function start(inst, program, args) {
  const child = spawn(path.join(bin, program), args, { env: inst.env, stdio: ['ignore', 'pipe', 'pipe'] });
  started.push(child);
  let out = '';
  return new Promise((resolve, reject) => {
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const url = out.match(/http:\/\/[^ ]+\//);
      if (url) resolve({ child, url: url[0], token: out.match(/\?token=([0-9a-f]+)/)?.[1] });
    });
    child.stderr.on('data', (chunk) => { out += chunk; });
    child.on('exit', (code) => reject(new Error(`${program} ended (${code}): ${out}`)));
  });
}
const serve = (inst, ...extra) => start(inst, 'QarCfg.exe', ['serve', '--listen', '127.0.0.1:0', ...extra]);

async function browser(inst, viewport = { width: 1100, height: 800 }) {
  const context = await chromium.launchPersistentContext(path.join(inst.dir, 'profile'), {
    executablePath: '/usr/bin/chromium', headless: true, viewport,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--no-proxy-server',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] ?? await context.newPage();
  page.on('dialog', (dialog) => { page.dialogSeen = dialog.message(); dialog.dismiss(); });
  return { context, page };
}

// A browser of its own, signed in with the token in the address serve printed.
async function signedIn(inst, served, viewport) {
  const opened = await browser(inst, viewport);
  await opened.page.goto(`${served.url}?token=${served.token}`);
  return opened;
}

// A raw request, for what a browser would not send; a script's, with `token`.
function request(url, { method = 'GET', headers = {}, body = '', token } = {}) {
  if (token) headers = { ...headers, 'x-qar-token': token };
  return new Promise((resolve, reject) => {
    const req = http.request(url, { method, headers }, (res) => {
      let text = '';
      res.on('data', (chunk) => { text += chunk; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, text }));
    });
    req.on('error', reject);
    req.end(body);
  });
}

async function waitFor(condition, what) {
  for (let i = 0; i < 300; ++i) {
    if (await condition()) return;
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`still not: ${what}`);
}

test('the overview shows the running agent and the day\'s counts', async () => {
  const inst = install('overview');
  insert(inst, [['OK', '{}'], ['OK', '{}'], ['NOK', '{}', 0, 'QarTab ended with 3'], ['C', '{}'],
    ['NOK', '{}', 0, 'Cancelado pelo operador'], ['P', '{}', 2], ['OK', '{}', 1]]);
  const agent = spawn(path.join(bin, 'QarSnc.exe'), [], { env: inst.env, stdio: 'ignore' });
  started.push(agent);
  const served = await serve(inst);
  const { url, token } = served;
  await waitFor(async () => (await request(url + 'api/status', { token })).text.includes(`"pid":${agent.pid},`), 'agent published');
  // Runs over the last 10 hours for the chart, every seventh one failed.
  const now = Date.now() / 86400000 + 25569;  // days since 1899-12-30, UTC
  const runs = Array.from({ length: 40 }, (_, i) => `('r${i}',${i + 1},${now - i / 96},${now - i / 96 + 1e-4},'exit',${i % 7 ? 0 : 3},'','',1,'u','x',0)`);
  execFileSync('sqlite3', [JSON.parse((await request(url + 'api/status', { token })).text).store,
    `INSERT INTO RUNS (RUNKEY,REQUEST,STARTED,ENDED,OUTCOME,CODE,OUTPUTFILE,NOTE,AGENTPID,AGENTUSER,AGENTEXE,WORKERPID) VALUES ${runs}`]);
  const { context, page } = await signedIn(inst, served);
  assert.equal(await page.locator('#chart-title').textContent(), 'Runs per hour, last 24 hours: 40 runs, 6 failed');
  assert.equal(await page.locator('.chart rect.failed').count(), 6);
  assert.equal(page.url(), url);
  assert.match(await page.locator('table').innerText(), new RegExp(`${agent.pid}[\\s\\S]*running`));
  const counts = await page.locator('.count').allInnerTexts();
  assert.deepEqual(counts.map((c) => c.replace(/\s+/g, ' ').trim()),
    ['0 pending', '0 running', '2 done', '1 failed (NOK)', '2 cancelled', '1 expired pending']);
  await page.screenshot({ path: path.join(inst.dir, 'overview.png') });
  if (process.env.QAR_SCREENSHOT) copyFileSync(path.join(inst.dir, 'overview.png'), process.env.QAR_SCREENSHOT);
  await page.getByRole('link', { name: '0 running' }).click();
  assert.equal(page.url(), url + 'requests?status=running');
  await page.goto(url);
  agent.kill('SIGTERM');
  await page.reload();
  await page.getByText('No agent:').waitFor();
  await context.close();
});

test('filters and pages select the rows', async () => {
  const inst = install('filters');
  insert(inst, Array.from({ length: 120 }, (_, i) => [i % 4 === 0 ? 'NOK' : 'OK', `{"N":${i + 1}}`]));
  insert(inst, [['P', '{"OLD":1}', 5], ['OK', '{"CDFILIAL":"007","CDCAIXA":"03"}']]);
  const served = await serve(inst);
  const { url } = served;
  const { context, page } = await signedIn(inst, served);
  await page.goto(url + 'requests');
  assert.match(await page.locator('.summary').innerText(), /121 requests today, page 1 of 3/);
  await page.getByRole('link', { name: 'Next page' }).click();
  await page.getByRole('link', { name: 'Next page' }).click();
  assert.match(await page.locator('.summary').innerText(), /page 3 of 3/);
  assert.equal(await page.locator('tbody tr').count(), 21);
  await page.getByLabel('Store').fill('007');
  await page.getByLabel('Till').fill('03');
  await page.getByRole('button', { name: 'Show' }).click();
  assert.match(await page.locator('tbody').innerText(), /^122\tOK\t007\t03\t/);
  await page.getByLabel('Store').fill('');
  await page.getByLabel('Till').fill('');
  await page.getByLabel('Status').selectOption('NOK');
  await page.getByRole('button', { name: 'Show' }).click();
  assert.match(await page.locator('.summary').innerText(), /^30 requests today/);
  await page.getByLabel('Status').selectOption('expired');
  await page.getByRole('button', { name: 'Show' }).click();
  assert.match(await page.locator('tbody').innerText(), /\{"OLD":1\}[\s\S]*/);
  assert.match(await page.locator('tbody').innerText(), /P \(expired\)/);
  await page.getByRole('link', { name: 'Cancel' }).click();  // an expired row is cleared away
  await page.getByRole('button', { name: 'Yes, cancel request 121' }).click();
  await page.getByText('Request 121 is cancelled (status C)').waitFor();
  assert.match(await page.locator('.cancels').innerText(), / from 127\.0\.0\.1$/);
  await page.goto(url + 'requests');
  await page.getByLabel('Status').selectOption('');
  await page.getByLabel('Id').fill('7');
  await page.getByRole('button', { name: 'Show' }).click();
  assert.equal(await page.locator('tbody tr').count(), 1);
  await page.getByRole('link', { name: '7', exact: true }).click();
  assert.match(await page.locator('dl').innerText(), /\{"N":7\}/);
  await context.close();
});

test('a hostile operation text is shown as text and runs nothing', async () => {
  const inst = install('hostile');
  const hostile = ['<script>alert(1)</script>', '"><img src=x onerror="alert(2)">', "'><svg onload=alert(3)>"];
  insert(inst, hostile.map((text) => ['NOK', text, 0, text]));
  const served = await serve(inst);
  const { url } = served;
  const { context, page } = await signedIn(inst, served);
  for (const where of ['requests', 'requests/1', 'requests/2', 'requests/3']) {
    await page.goto(url + where);
    await page.waitForTimeout(0);
  }
  await page.goto(url + 'requests');
  const table = await page.locator('tbody').innerText();
  for (const text of hostile) assert.ok(table.includes(text), text);
  assert.equal(await page.locator('main img, main svg, main script').count(), 0);
  assert.equal(page.dialogSeen, undefined);
  await context.close();
});

test('cancel, with the access token and after a confirmation, changes the row as QarCfg cancel does', async () => {
  const inst = install('cancel');
  insert(inst, [['P', '{"CDFILIAL":"001","CDCAIXA":"01"}'], ['P', '{"CDFILIAL":"001","CDCAIXA":"02"}']]);
  const tokenFile = path.join(inst.dir, 'token');
  const token = 'a0b1c2d3e4f5a6b7c8d9e0f1';
  writeFileSync(tokenFile, token + '\n', { mode: 0o600 });
  const { url } = await serve(inst, '--token-file', tokenFile);
  assert.equal((await request(url + 'requests/1')).status, 401);
  const { context, page } = await browser(inst);
  await page.goto(`${url}?token=${token}`);  // sets the cookie, then the overview without the token in the address
  assert.equal(new URL(page.url()).search, '');
  await page.goto(url + 'requests/1');
  await page.getByRole('link', { name: 'Cancel this request' }).click();
  assert.equal(inst.sql('SELECT IDSTCTRLEXECREM FROM CTRLEXECREM WHERE IDCTRLEXECREM = 1'), 'P');  // not before confirming
  await page.getByRole('button', { name: 'Yes, cancel request 1' }).click();
  await page.getByText('Request 1 is cancelled (status C)').waitFor();
  inst.qarcfg('cancel', '2');
  const row = (id) => inst.sql(`SELECT IDSTCTRLEXECREM, DTULTATU IS NOT NULL, DSERRO FROM CTRLEXECREM WHERE IDCTRLEXECREM = ${id}`);
  assert.equal(row(1), 'C|1|');
  assert.equal(row(1), row(2));
  await page.goto(url + 'requests/1');
  assert.equal(await page.getByRole('link', { name: 'Cancel this request' }).count(), 0);
  await context.close();
});

test('signing in: the token in the address or the form gives a session cookie, never the token', async () => {
  const inst = install('login');
  const served = await serve(inst);
  const { url, token } = served;
  const { context, page } = await browser(inst);
  const refused = await page.goto(url + 'requests?status=P');
  assert.equal(refused.status(), 401);
  assert.equal(refused.headers()['content-security-policy'].split(';')[0], "default-src 'self'");
  assert.equal(await page.title(), 'QarSnc: Access token needed');
  await page.getByLabel('Access token').fill('not-the-token-at-all');
  await page.getByRole('button', { name: 'Sign in' }).click();
  assert.equal(await page.title(), 'QarSnc: Wrong access token');
  await page.getByLabel('Access token').fill(token);
  await page.getByRole('button', { name: 'Sign in' }).click();
  assert.equal(page.url(), url + 'requests?status=P');
  await context.clearCookies();
  const visit = await page.goto(`${url}logs?token=${token}`);
  assert.equal(page.url(), url + 'logs');  // the token left the address bar
  assert.equal((await visit.request().redirectedFrom().response()).status(), 303);
  const cookies = await context.cookies();
  assert.equal(cookies.length, 1);
  assert.ok(cookies[0].httpOnly && cookies[0].sameSite === 'Strict' && cookies[0].expires > Date.now() / 1000);
  assert.ok(!cookies[0].value.includes(token));
  await context.close();
});

test('a page on another port of the host cannot cancel, even with the form\'s field', async () => {
  const inst = install('crossorigin');
  insert(inst, [['P', '{}']]);
  const served = await serve(inst);
  const { context, page } = await signedIn(inst, served);
  await page.goto(served.url + 'requests/1/cancel');
  const csrf = await page.locator('input[name=csrf]').getAttribute('value');
  const target = `${served.url}requests/1/cancel`;
  const attacker = http.createServer((req, res) => {
    res.setHeader('content-type', 'text/html');
    res.end(`<form method="post" action="${target}"><input name="csrf" value="${csrf}"></form>
      <script>document.forms[0].submit()</script>`);
  });
  await new Promise((resolve) => attacker.listen(0, '127.0.0.1', resolve));
  const answer = page.waitForResponse((response) => response.url() === target);
  await page.goto(`http://127.0.0.1:${attacker.address().port}/`);
  assert.equal((await answer).status(), 403);
  assert.equal(await page.title(), 'QarSnc: Not sent from this page');
  assert.equal(inst.sql('SELECT IDSTCTRLEXECREM FROM CTRLEXECREM'), 'P');
  attacker.close();
  await context.close();
});

test('usable at 375 px wide, with no serious accessibility violation', async () => {
  const inst = install('narrow');
  insert(inst, [['NOK', '{"CDFILIAL":"001","CDCAIXA":"01"}', 0, 'a long error text that has to wrap on a narrow screen']]);
  const served = await serve(inst);
  const { url } = served;
  const { context, page } = await signedIn(inst, served, { width: 375, height: 740 });
  for (const where of ['', 'requests', 'requests/1', 'requests/1/cancel', 'logs', 'settings', 'login']) {
    await page.goto(url + where);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 375), `${where} scrolls sideways`);
    await page.evaluate(axeSource + ';0');
    const result = await page.evaluate(() => axe.run(document, { resultTypes: ['violations'] }));
    const serious = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
    assert.deepEqual(serious.map((v) => v.id), [], where);
  }
  await page.goto(url + 'requests');
  await page.screenshot({ path: path.join(inst.dir, 'requests_375.png'), fullPage: true });
  await page.getByRole('link', { name: 'Settings' }).click();
  assert.match(await page.locator('dl').innerText(), /StringConex/);
  await context.close();
});
