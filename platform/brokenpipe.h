#pragma once
// A reader that goes away (quillmark-print ... | head) must not kill the process in the middle of a
// run: writes to it then fail instead. Call once at start.
void IgnoreBrokenPipe();
