#pragma once
// Size of the primary screen in pixels; 0 x 0 when none is known.
// Needs a running QGuiApplication on platforms whose screen is only known through Qt.
void PrimaryScreenSize(int *width, int *height);
// The part of the primary screen that windows may use (without panels and task bar), in desktop
// coordinates; all 0 when no screen is known. Same needs as above.
void PrimaryScreenArea(int *x, int *y, int *width, int *height);
