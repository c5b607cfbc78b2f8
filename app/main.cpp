#include "ApplicationMain.h"

int main(int argc, char *argv[]) { return veyra::ui::runApplication(argc, argv); }
