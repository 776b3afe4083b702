#include "view/viewer.h"

int main(int argc, char **argv)
{
    return viewer_main(argc, argv);
}
