#include "diagnostics/Steps.h"

namespace parcelon {

void Steps::report(int line, const QString& description)
{
    showErrorReport(m_desktop, description, m_where, line);
}

} // namespace parcelon
