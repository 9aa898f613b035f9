#pragma once
// Registers the program's compiled-in resources (the icon ":/images/kov.ico"). The resources live in a
// static library, whose static initialiser the linker would drop; safe to call any number of times.
void EnsureQuillmarkResources();
