#pragma once

#include <string>

#include "device/DeviceHost.h"

// What the File menu's commands (Load, Save, Upload, Delete, Download) need of the main
// window's rules, and no more: the device, the read and the checked send, the folders the
// file dialogs open in, and the program buttons.
class CommandHost : public DeviceHost {
public:
    // Reads the configuration as the connection dialog does; false when it failed.
    virtual bool readConfiguration() = 0;
    // Sends the block through the update dialog, reads it back and checks it.
    virtual void sendBlock(const ConfigBlock& block) = 0;

    virtual const std::string& configFileDir() const = 0;
    virtual void rememberConfigFileDir(const std::string& folder) = 0;
    virtual const std::string& userProgramDir() const = 0;
    virtual void rememberUserProgramDir(const std::string& folder) = 0;

    // The main window's Upload Program and Delete Program buttons.
    virtual void setProgramButtons(bool upload, bool remove) = 0;
    virtual bool deleteEnabled() const = 0;
};
