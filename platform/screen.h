#pragma once
// Size of the primary screen in pixels; 0 x 0 when none is known.
// Needs a running QGuiApplication on platforms whose screen is only known through Qt.
void PrimaryScreenSize(int *width, int *height);
