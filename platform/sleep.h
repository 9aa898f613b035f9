#pragma once
void SleepMs(unsigned milliseconds);
