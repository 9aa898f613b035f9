#pragma once
// Needs a running QGuiApplication on platforms whose screen is only known through Qt.
void PrimaryScreenSize(int *width, int *height);
