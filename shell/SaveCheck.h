#pragma once
// The check that follows a save in the window.
struct ShellContext;
namespace platform { struct OperationContext; }

// Checks the files the save to the editor's output name wrote, against the cut list
// and the sources, when the settings ask for it (unsaid, the window checks): with
// the save's progress bar and cancel button in `op`. A problem found is said in the
// console and in a message box that names the first one and the file. 1 nothing
// wrong, 0 problems found, -1 not checked or not asked for.
int checkAfterSave(ShellContext& context, int selectionOnly, const platform::OperationContext& op);
