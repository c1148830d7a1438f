// A slot of a backup file in the preview: its name and file name, and the
// waveform and frequency response of the coefficients it holds (no WAV
// file needed), drawn by the preview like a slot of the unit.
import { wordsOfDigits } from '../ir/coefficient-response.js';

// Shows slot k (0-based) of a model; where says whose slot it is. Returns
// false when the slot holds no coefficients.
export function showSlotCurve(preview, parameter, k, { where, name, file }) {
    const words = wordsOfDigits(parameter.paramSet[`IRDATA(${k + 1})%DATA`] ?? []);
    return preview.showSlotWords(k, words, { where, name, file: file || '—' });
}
