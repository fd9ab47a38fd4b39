// Drives koru-pjlink through the npm package "pjlink", a PJLink client written elsewhere,
// and prints one line for each step: "step: result" or "step: error: message".
// Usage: node check.js PORT PASSWORD|- SCENARIO   (SCENARIO: all, or password)
'use strict';
const PJLink = require('pjlink');

const [port, password, scenario] = process.argv.slice(2);
const projector = new PJLink('127.0.0.1', Number(port), password === '-' ? undefined : password);

function step(name, call) {
    return new Promise((resolve) => {
        const timer = setTimeout(() => resolve(print(name, 'error: no answer in 10 s')), 10000);
        call((err, ...values) => {
            clearTimeout(timer);
            resolve(print(name, err ? 'error: ' + err.message : JSON.stringify(values)));
        });
    });
}

function print(name, text) {
    console.log(name + ': ' + text);
    return text;
}

async function all() {
    await step('power', (cb) => projector.getPowerState(cb));
    await step('power on', (cb) => projector.powerOn(cb));
    // The projector counts down before it is on: at most 50 looks, 100 ms apart.
    for (let i = 0; i < 50; ++i) {
        const state = await new Promise((r) => projector.getPowerState((e, s) => r(e ? -1 : s)));
        if (state === 1)
            break;
        await new Promise((r) => setTimeout(r, 100));
    }
    await step('power after count down', (cb) => projector.getPowerState(cb));
    await step('input set', (cb) => projector.setInput({source: 'digital', channel: 1}, cb));
    await step('input', (cb) => projector.getInput(cb));
    await step('input not mapped', (cb) => projector.setInput({source: 'network', channel: 9}, cb));
    await step('mute set', (cb) => projector.setMute({video: true, audio: true}, cb));
    await step('mute', (cb) => projector.getMute(cb));
    await step('mute off', (cb) => projector.setMute({video: false, audio: false}, cb));
    await step('mute after', (cb) => projector.getMute(cb));
    await step('sound mute', (cb) => projector.setMute({video: false, audio: true}, cb));
    await step('mute at last', (cb) => projector.getMute(cb));
    await step('lamps', (cb) => projector.getLamps(cb));
    await step('errors', (cb) => projector.getErrors(cb));
    await step('inputs', (cb) => projector.getInputs(cb));
    await step('name', (cb) => projector.getName(cb));
    await step('info', (cb) => projector.getInfo(cb));
    await step('class', (cb) => projector.getClass(cb));
    await step('power off', (cb) => projector.powerOff(cb));
    await step('power after off', (cb) => projector.getPowerState(cb));
}

async function wrongPassword() {
    await step('power', (cb) => projector.getPowerState(cb));
}

(scenario === 'password' ? wrongPassword() : all()).then(() => {
    projector.disconnect();
    process.exit(0);
});
