// TDownloaderForm: the export progress window for a single file. Created hidden.
#pragma once

#include "Forms.h"

class TDownloaderForm : public TForm {
 public:
  TDownloaderForm();
};

extern TDownloaderForm* DownloaderForm;
