// Stands in for a running instance of the program: it idles, then exits with 3, so an exit code of 0
// shows that it was ended from outside.
#include <windows.h>

int main()
{
    Sleep(60000);
    return 3;
}
