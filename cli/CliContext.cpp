#include "CliContext.h"

#include "lbtools3/model/ID3ComAccess.h"

int CliUiServices::MessageBox(const QString& text, const QString&, unsigned flags) {
  const unsigned type = flags & MB_TYPEMASK;
  const bool question = type == MB_YESNO || type == MB_YESNOCANCEL || type == MB_OKCANCEL;
  int answer = !question        ? IDOK
               : m_Context.bYes ? (type == MB_OKCANCEL ? IDOK : IDYES)
                                : (type == MB_OKCANCEL ? IDCANCEL : IDNO);
  m_Context.err << text;
  if (question) m_Context.err << (answer == IDYES || answer == IDOK ? " — Да" : " — Нет");
  m_Context.err << Qt::endl;
  return answer;
}

int CliUiServices::AskButtons(const QString& text, const QString&, unsigned buttons, unsigned) {
  int answer = m_Context.bYes ? ((buttons & abYes) ? IDYES : IDYESTOALL)
                              : ((buttons & abNo) ? IDNO : IDCANCEL);
  m_Context.err << text << (answer == IDYES || answer == IDYESTOALL ? " — Да" : " — Нет")
                << Qt::endl;
  return answer;
}

int CliUsageError(CliContext& c, const QString& text) {
  c.err << text << Qt::endl << "Справка: lbtools3-cli --help" << Qt::endl;
  return 2;
}

bool CliAttachID3Com(CliContext& c) {
  HRESULT hr = lb::AttachCurrentThreadToID3Com();
  if (SUCCEEDED(hr)) return true;
  c.err << "Не удалось создать компонент ID3Com (код 0x"
        << QString::number(static_cast<uint32_t>(hr), 16).toUpper()
        << "). Зарегистрируйте его: lbregsvr libid3com.so" << Qt::endl;
  return false;
}
