// The translation tables of a terminal record: each setter replaces one
// table with one loaded from the code-page file, freeing the old one.
#include "tcs.h"
#include "te/te.h"

template <typename T>
static void cp_replace(T*& field, int kind, const char* file, const char* name) {
  T* table = (T*)TCSLoadTbl(kind, file ? file : "", name ? name : "");
  TCSFreeTbl(field);
  field = table;
}

void SetEmInCP(te* t, const char* file, const char* name) {
  cp_replace(t->EmCPtoTCS, TCS_TBL_CPTOTCS, file, name);
}

void SetKbdCP(te* t, const char* file, const char* name) {
  cp_replace(t->KbdCPtoTCS, TCS_TBL_CPTOTCS, file, name);
}

void SetVidCP(te* t, const char* file, const char* name) {
  cp_replace(t->VidTCStoCP, TCS_TBL_TCSTOCP, file, name);
}

static void cp_unicode_once(unsigned short*& field, const char* file, const char* name) {
  if (!field) field = (unsigned short*)TCSLoadTbl(TCS_TBL_UNICODE, file, name);
}

// The double-byte tables exist only where the file has them: six empty
// 128 KiB tables in every session would be most of its memory.
static void cp_dbcs_once(unsigned short*& field, const char* file, const char* name) {
  if (!field) field = (unsigned short*)TCSLoadTblIfPresent(TCS_TBL_UNICODE, file, name);
}

void SetEmOutCP(te* t, const char* file, const char* name) {
  cp_replace(t->EmTCStoCP, TCS_TBL_TCSTOCP, file, name);
  if (!file || !*file) return;
  bool fresh = !t->Unicode2TCS;
  cp_unicode_once(t->Unicode2TCS, file, TCS_UNICODE2TCS_NAME);
  cp_dbcs_once(t->Unicode2GB2312, file, "Unicode To GB2312");
  cp_dbcs_once(t->GB23122Unicode, file, "GB2312 To Unicode");
  cp_dbcs_once(t->Unicode2Big5, file, "Unicode To Big5");
  cp_dbcs_once(t->Big52Unicode, file, "Big5 To Unicode");
  cp_dbcs_once(t->Unicode2SJIS, file, "Unicode to SJIS");
  cp_dbcs_once(t->SJIS2Unicode, file, "SJIS To Unicode");
  if ((fresh || !t->TCS2Unicode) && t->Unicode2TCS) {
    if (!t->TCS2Unicode) t->TCS2Unicode = (unsigned short*)EmAlloc(TCS_TCS2UNI_SIZE * sizeof(unsigned short));
    if (t->TCS2Unicode) TCSBuildTCS2Unicode(t->Unicode2TCS, t->TCS2Unicode);
  }
}

template <typename T>
static void cp_dec(T*& field, int kind, const char* file, const char* name) {
  if (file && name) {
    cp_replace(field, kind, file, name);
  } else {
    TCSFreeTbl(field);
    field = nullptr;
  }
}

void SetDECSGCP(te* t, const char* file, const char* name) {
  cp_dec(t->pVT200DSG, TCS_TBL_VT200DSG, file, name);
}

void SetDECMNCP(te* t, const char* file, const char* name) {
  cp_dec(t->pVT200DMN, TCS_TBL_VT200DMN, file, name);
}

void SetVT100SGCP(te* t, const char* file, const char* name) {
  cp_dec(t->pVT100SG, TCS_TBL_VT100SG, file, name);
}
