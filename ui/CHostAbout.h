#pragma once

// The host's own About box, shown for plug-ins of other vendors.

#include "Dialog.h"
#include "resource.h"

class CHostAbout : public Dialog {
public:
    CHostAbout() : Dialog(IDD_HOSTABOUT) {}

protected:
    bool onCommand(int controlId, int) override {
        if (controlId != IDOK && controlId != IDCANCEL)
            return false;
        endDialog(controlId);
        return true;
    }
};
