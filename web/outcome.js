'use strict';
// What the runs said: the Messages pane keeps the whole text of every run under its command line,
// and the bar at the foot of the window the outcome of the latest action alone.
const { $ } = require('./dom');
const { onTerminal } = require('./lines');
const { shellWord, shown } = require('./names');

const OUTCOME_LINES = 6;
const history = []; // every logged run: { program, args, status, text }
let said = []; // what the action under way has to say: { kind: ok, warn or fail, text }

// An action starts with nothing said: its outcome is its own.
function begin() {
  said = [];
}

function say(kind, text) {
  said.push({ kind, text });
}

// Writes the run into the messages, under the command line that does the same (with `note`, a
// shell comment saying what the page did besides), and tells its outcome.
function log(args, result, program = 'z18man', note = '') {
  history.push({ program, args, status: result.status, text: result.text });
  const pane = $('log');
  const line = '$ ' + program + ' ' + args.map(shellWord).join(' ') + (note ? '    # ' + note : '');
  pane.append(line + '\n' + onTerminal(result.text));
  pane.scrollTop = pane.scrollHeight;
  tell(result, program);
}

// How a run ended, in its own words: every status line it printed, then its last line.
function tell(result, program) {
  let lines = onTerminal(result.text).split('\n').map((l) => l.trimEnd()).filter((l) => l);
  if (program === 'z18man') lines = lines.slice(2); // the banner
  const failed = lines.filter((l) => l.endsWith('!!!') || l.startsWith('z18fsck: '));
  for (const line of failed) say('fail', line);
  const last = lines[lines.length - 1];
  const kind = result.status === 0 ? 'ok' : program === 'z18fsck' && result.status === 1 ? 'warn' : 'fail';
  if (last && !failed.includes(last)) say(kind, last);
}

// Shows what the action said in the bar, which stays in view at the foot of the window wherever
// the page is scrolled, its text a live region that screen readers read out; an action that said
// nothing leaves the bar empty. `offered` is a refused file whose check the bar offers.
function show(offered) {
  const lines = said.slice(0, OUTCOME_LINES).map((s) => s.text);
  if (said.length > OUTCOME_LINES) lines.push('… and ' + (said.length - OUTCOME_LINES) + ' more line(s) in Messages');
  $('outcome-text').textContent = lines.join('\n');
  $('outcome').className = ['fail', 'warn', 'ok'].find((k) => said.some((s) => s.kind === k)) || 'empty';
  $('outcome-check').hidden = !offered;
  if (offered) $('outcome-check').textContent = 'Check ' + shown(offered.name) + ' with z18fsck';
  // What the keyboard brings into view is not left under it, nor the end of the messages.
  if (said.length) document.documentElement.style.setProperty('--outcome', $('outcome').offsetHeight + 'px');
  else document.documentElement.style.removeProperty('--outcome');
}

function dismiss() {
  $('outcome').className = 'empty';
  document.documentElement.style.removeProperty('--outcome');
}

module.exports = { history, begin, say, log, show, dismiss };
