#pragma once

struct AppState;

// "Align devices": the modal dialog in which the user chooses a microphone
// and the probe's level, starts an alignment of the ticked targets
// (audio/align/alignment_session.h) and reads what it found. Main thread
// only, inside a frame.

// Opens the dialog at the next DrawAlignDialog, with the saved microphone
// chosen when it is listed (else the first recording device) and the saved
// level.
void OpenAlignDialog(const AppState& state);

// Draws the dialog while it is open. Call at the ID-stack level where
// OpenAlignDialog's button is drawn, every frame.
void DrawAlignDialog(AppState& state);
