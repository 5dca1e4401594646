#include "app/FieldControlApp.h"

// The one application object, built before main runs.
static CFieldControlApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
