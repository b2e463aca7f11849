// The maintainers' interface in headless Chromium, as a maintainer uses it:
// log in, find a report just uploaded, open it, download its log, triage
// it, publish a latest version and read it back as the reporter does, log
// out. Runs the real server from the native build.
//
//   node admin_scenario.mjs BUILD-DIR [SCREENSHOT-DIR]
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const buildDir = process.argv[2];
const screenshots = process.argv[3] || '';
const server = join(buildDir, 'bin', 'brevora-report-server');
const bodyTool = join(buildDir, 'bin', 'report_body_tool');
const chromiumPath = process.env.BREVORA_CHROMIUM || '/usr/bin/chromium';
const work = mkdtempSync(join(tmpdir(), 'brevora-browser-'));
const data = join(work, 'data');
const password = 'scenario-passphrase-' + Math.random().toString(36).slice(2);
let serverProcess = null;
let browser = null;

function check(condition, what) {
    if (!condition)
        throw new Error('check failed: ' + what);
    console.log('ok - ' + what);
}

function startServer() {
    return new Promise((resolve, reject) => {
        const child = spawn(server, ['serve', '--data', data, '--listen', '127.0.0.1:0', '--admin-listen',
                                     '127.0.0.1:0', '--rate-limit', 'off', '--query-rate-limit', 'off'],
                            { stdio: ['ignore', 'ignore', 'pipe'] });
        let log = '';
        const timer = setTimeout(() => reject(new Error('server did not start: ' + log)), 20000);
        child.stderr.on('data', chunk => {
            log += chunk;
            const admin = /maintainers' interface at (http:\/\/[0-9.:]+)\//.exec(log);
            const reports = /listening on ([0-9.:]+),/.exec(log);
            if (admin && reports) {
                clearTimeout(timer);
                resolve({ child, admin: admin[1], reports: 'http://' + reports[1] });
            }
        });
        child.on('exit', code => reject(new Error('server exited with ' + code + ': ' + log)));
    });
}

async function main() {
    const added = spawnSync(server, ['user', 'add', '--data', data, 'maintainer'], { input: password + '\n' });
    check(added.status === 0, 'user add maintainer');

    const started = await startServer();
    serverProcess = started.child;
    const { admin, reports } = started;

    // A report as the reporter sends it, with a log of 700 lines.
    const marker = 'flicker' + Date.now().toString(36);
    let log = '';
    for (let i = 1; i <= 700; ++i)
        log += `2024-05-01 12:00:${String(i % 60).padStart(2, '0')} line ${i} <b>not bold</b>\r\n`;
    writeFileSync(join(work, 'log.txt'), log);
    // Two reports with the same words, for two components and versions.
    const uploadReport = async (component, version) => {
        const body = spawnSync(bodyTool, ['tester@example.com', `The window ${marker}s <script>alert(1)</script>`,
                                          join(work, 'log.txt'), component, version]);
        check(body.status === 0, 'reporter body made for ' + component);
        const upload = await fetch(reports + '/bugreport/report/', {
            method: 'POST', body: body.stdout, headers: { 'Content-Type': 'application/x-www-form-urlencoded' } });
        check(upload.status === 201, 'report uploaded for ' + component);
        return (await upload.text()).trim();
    };
    const otherId = await uploadReport('Sound', '2.5.0');
    const id = await uploadReport('Renderer', '2.4.1');

    browser = await chromium.launch({ executablePath: chromiumPath, headless: true, args: ['--no-sandbox'] });
    const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1200, height: 800 } });
    const page = await context.newPage();
    const consoleErrors = [];
    page.on('console', message => { if (message.type() === 'error') consoleErrors.push(message.text()); });
    page.on('dialog', dialog => { consoleErrors.push('dialog: ' + dialog.message()); dialog.dismiss(); });

    await page.goto(admin + '/reports');
    check(new URL(page.url()).pathname === '/login', 'without a session the list leads to the log-in page');
    await page.fill('input[name=name]', 'maintainer');
    await page.fill('input[name=password]', password);
    await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
    check(await page.textContent('h1') === 'Overview', 'logged in: the overview');
    check(await page.locator('svg.chart rect').count() >= 2, 'the chart has a bar for each component');
    check((await page.textContent('main')).includes('Renderer'), 'the overview names the components');
    if (screenshots)
        await page.screenshot({ path: join(screenshots, 'admin-overview.png'), fullPage: true });

    await page.click('header a[href="/reports"]');
    check(await page.locator(`a[href="/reports/${id}"]`).count() === 1, 'the new report is listed');
    check(await page.locator(`a[href="/reports/${otherId}"]`).count() === 1, 'the other report is listed');
    await page.fill('input[name=version]', '2.5.0');
    await Promise.all([page.waitForNavigation(), page.click('form.filters button[type=submit]')]);
    check(await page.locator(`a[href="/reports/${otherId}"]`).count() === 1 &&
          await page.locator(`a[href="/reports/${id}"]`).count() === 0, 'the version filter keeps its report only');
    check((await page.textContent('table.reports tbody td.version')) === '2.5.0', 'the line shows its version');
    await page.fill('input[name=version]', '');
    // Filter by component (the one reporters chose), then also by words and status.
    await page.fill('input[name=component]', 'Renderer');
    await Promise.all([page.waitForNavigation(), page.click('form.filters button[type=submit]')]);
    check(await page.locator(`a[href="/reports/${id}"]`).count() === 1 &&
          await page.locator(`a[href="/reports/${otherId}"]`).count() === 0, 'the component filter keeps its report only');
    check((await page.textContent('table.reports tbody')).includes('Renderer'), 'the line shows its component');
    await page.fill('input[name=q]', marker);
    await page.selectOption('select[name=status]', 'new');
    await Promise.all([page.waitForNavigation(), page.click('form.filters button[type=submit]')]);
    check(await page.locator('table.reports tbody tr').count() === 1, 'the filter keeps the one report');
    if (screenshots)
        await page.screenshot({ path: join(screenshots, 'admin-list.png'), fullPage: true });
    await Promise.all([page.waitForNavigation(), page.click(`a[href="/reports/${id}"]`)]);
    check((await page.textContent('h1')).startsWith('Report ' + id), 'the report page is open');
    check((await page.textContent('dd.component')) === 'Renderer', 'the report page shows its component');
    check((await page.content()).includes('&lt;script&gt;alert(1)&lt;/script&gt;'), 'its texts are shown as text');
    check(await page.locator('ol.log li').count() === 500, 'the log shows its last 500 lines');
    if (screenshots)
        await page.screenshot({ path: join(screenshots, 'admin-report.png'), fullPage: false });

    const [download] = await Promise.all([page.waitForEvent('download'),
                                          page.click('text=Download the whole log')]);
    const downloaded = readFileSync(await download.path());
    check(Buffer.compare(downloaded, Buffer.from(log)) === 0, 'the downloaded log is the uploaded one, byte for byte');

    await page.selectOption('select[name=status]', 'triaged');
    await page.fill('textarea[name=note]', 'Reproduced on the test machine');
    await Promise.all([page.waitForNavigation(), page.click('button:text-is("Save")')]);
    const audit = await page.textContent('table.audit tbody');
    check(audit.includes('maintainer') && audit.includes('triaged') && audit.includes('Reproduced on the test machine'),
          'the triage is in the audit list');
    check((await page.textContent('dd.status')) === 'triaged', 'the report is triaged');

    await page.click('header a[href="/publish"]');
    await page.fill('input[name=version]', '9.8.7');
    await page.fill('input[name=update_address]', 'https://brevora.org/update');
    await Promise.all([page.waitForNavigation(), page.click('button:text-is("Publish")')]);
    const latest = await (await fetch(reports + '/bugreport/latest_version')).text();
    check(latest === '9.8.7\nhttps://brevora.org/update\n', 'the reporters read the published version');

    await Promise.all([page.waitForNavigation(), page.click('button:text-is("Log out")')]);
    check(new URL(page.url()).pathname === '/login', 'logged out');
    await page.goto(admin + '/reports/' + id);
    check(new URL(page.url()).pathname === '/login', 'the report is out of reach after logging out');
    check(consoleErrors.length === 0, 'no script ran and nothing was blocked: ' + consoleErrors.join('; '));
}

let failed = false;
try {
    await main();
} catch (error) {
    console.error('FAILED: ' + error.message);
    failed = true;
} finally {
    if (browser)
        await browser.close();
    if (serverProcess) {
        serverProcess.removeAllListeners('exit');
        serverProcess.kill('SIGTERM');
    }
    rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
