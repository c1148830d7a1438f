// A slot of a backup file in the preview: its name and file name, and the
// waveform and frequency response of the coefficients it holds (no WAV
// file needed).
import { coefficientCurve, wordsFromDigits } from '../ir/coefficient-curve.js';
import { drawResponse, drawWave, fact } from './preview.js';

const $ = (id) => document.getElementById(id);

// Shows slot k (0-based) of a model; where says whose slot it is. Returns
// false when the slot holds no coefficients.
export function showSlotCurve(parameter, k, { where, name, file }) {
    const curve = coefficientCurve(wordsFromDigits(parameter.paramSet[`IRDATA(${k + 1})%DATA`] ?? []));
    if (!curve) {
        $('preview').hidden = true;
        $('preview-empty').hidden = false;
        $('preview-empty').textContent = `Slot ${k + 1} of ${where} holds no impulse response.`;
        return false;
    }
    $('preview-empty').hidden = true;
    $('preview').hidden = false;
    $('preview-name').textContent = `Slot ${k + 1}: ${name || '(no name)'}`;
    const facts = $('preview-facts');
    facts.replaceChildren();
    fact(facts, 'In', where);
    fact(facts, 'File', file || '—');
    fact(facts, 'Rate', `${curve.rate / 1000} kHz`);
    fact(facts, 'Taps', `${((curve.samples.length / curve.rate) * 1000).toFixed(1)} ms`);
    $('preview-notice').textContent = 'As the slot holds it: the taps of its coefficients (the decaying tail is not drawn).';
    drawWave($('preview-wave'), [curve.samples], curve.rate);
    drawResponse($('preview-response'), curve.response);
    return true;
}
