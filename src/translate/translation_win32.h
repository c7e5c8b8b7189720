// The translation table embedded in the program's own module as the RT_RCDATA resource "translate"
// (in the .rc:  translate RCDATA "translate.txt").
#pragma once

namespace tarnell {

// Start-up step, once per process, before any window exists: fills TranslationTable from the resource.
// Without the resource the table stays empty and every lookup answers its source.
void LoadTranslationTable();

// Shut-down step, once per process, after the message loop: drops the table, empties CurrentLanguage.
void ReleaseTranslationTable();

}  // namespace tarnell
