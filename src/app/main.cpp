#include "app/app.h"

int main(int argc, char **argv)
{
    app_startup(&argc, &argv);
    gtk_main();
    return 0;
}
