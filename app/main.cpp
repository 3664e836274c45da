#include "common/ErrorReport.h"
#include "ui/Main.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TFrmMain main;
    main.show();
    return app.exec();
}
