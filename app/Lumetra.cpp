// Program entry: one instance per login session, the application's title, the four
// windows in their fixed order, and the message loop.
#include "Dialogs.h"
#include "DownloadForm_U.h"
#include "DownloadRequestForm.h"
#include "Downloader.h"
#include "Forms.h"
#include "InstanceMarker.h"
#include "MainForm.h"
#include "ProgramEntry.h"

int LumetraMain(int argc, char** argv) {
  if (!Application->Initialize(argc, argv)) return 0;

  THandle hMutex = CreateInstanceMarker("OnlyOne");
  if (hMutex == 0) {
    MessageBox(nullptr, Ansi(u8"创建互斥对象失败!"), Ansi(u8"错误"), mb::OK | mb::IconInformation);
    return 0;
  }
  if (LastMarkerError() == ERROR_ALREADY_EXISTS) {
    MessageBox(nullptr, Ansi(u8"Lumetra已经运行了，不能同时运行多个!"), Ansi(u8"关闭"), mb::OK | mb::IconInformation);
    CloseMarker(hMutex);
    return 0;
  }

  Application->Title = "Lumetra";
  Application->CreateForm(MainForm);
  Application->CreateForm(DownloadForm);
  Application->CreateForm(DownloadRequest);
  Application->CreateForm(DownloaderForm);
  Application->Run();

  CloseMarker(hMutex);
  Application->DestroyForms();
  return 0;
}
