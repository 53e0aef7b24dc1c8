#pragma once
// The program's own texts where the wording is ours: the start-up banner, the
// about text and where the viewer comes from.

// The banner, each piece written as one message; the viewer credit runs on into
// the line that says where the viewer is found.
extern const char* const contactLine;
extern const char* const viewerCredit;
extern const char* const viewerSource;
extern const char* const sizeNote;
extern const char* const aboutText;
