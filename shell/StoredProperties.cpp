#include "shell/StoredProperties.h"

namespace shell {

const std::vector<std::string> &MainFormStoredProps()
{
    static const std::vector<std::string> entries = {
        "DirectoryEdit1.Text",   "Avisadores.ItemIndex",  "ComprobarChk.Checked",           "cxTrackBar1.Position",
        "cxTrackBar2.Position",  "cxTrackBar3.Position",  "cxTrackBar4.Position",           "cxTrackBar5.Position",
        "cxTrackBar6.Position",  "cxTrackBar7.Position",  "cxTrackBar8.Position",           "cxTrackBar9.Position",
        "cxTrackBar10.Position", "Minimizar.Checked",     "cxTrackBar12.Position",          "cxTrackBar11.Position",
        "cxTrackBar13.Position", "cxTrackBar14.Position", "ServerTypeRadioGroup.ItemIndex", "ProxyServerEdit1.Text",
        "ProxyPortEdit1.Value",
    };
    return entries;
}

}  // namespace shell
