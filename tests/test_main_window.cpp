#include "support/harness.h"

#include "app/app.h"
#include "ui/main_window.h"

#include <gtest/gtest.h>

TEST(MainWindow, HasItsTitle)
{
    test_app_start();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_main)),
                 "Ravelo playback client & IDX editor");
}
