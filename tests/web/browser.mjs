// Starts Debian's chromium for a test: headless, with a profile of its own that is
// removed afterwards, and nothing that reaches beyond this machine.
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const CHROMIUM = process.env.PLOTMINT_CHROMIUM ?? '/usr/bin/chromium';

// Resolves with { browser, close() }.
export async function launchBrowser() {
  const profile = await fs.mkdtemp(path.join(os.tmpdir(), 'plotmint-chromium-'));
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true,
      args: [
        '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        `--user-data-dir=${profile}`,
      ],
      timeout: 60_000,
      protocolTimeout: 60_000,
    });
  } catch (e) {
    await fs.rm(profile, { recursive: true, force: true });
    throw e;
  }
  return {
    browser,
    close: async () => {
      await browser.close();
      await fs.rm(profile, { recursive: true, force: true });
    },
  };
}
