#include "app/CVxconfApp.h"

int main(int argc, char** argv) {
    CVxconfApp app(argc, argv);
    return app.run();
}
