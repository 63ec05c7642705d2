// TDownloadForm: the download manager window. Created hidden at start-up.
#pragma once

#include "Forms.h"

class TDownloadForm : public TForm {
 public:
  TDownloadForm();
};

extern TDownloadForm* DownloadForm;
