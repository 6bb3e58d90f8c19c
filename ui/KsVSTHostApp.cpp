// The application: common controls, then the main window for the whole run.

#include "CKsVSTHostDlg.h"

#include <commctrl.h>
#include <windows.h>

namespace {

class CKsVSTHostApp {
public:
    int run() {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        CKsVSTHostDlg mainWindow;
        return mainWindow.runAsMainWindow() == -1 ? 1 : 0;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CKsVSTHostApp app;
    return app.run();
}
