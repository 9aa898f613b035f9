// A small real program that the updater's tests put into release packages.
#include <cstdio>

int main()
{
    std::puts("sample program");
    return 0;
}
