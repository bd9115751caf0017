#include "sources/SourceList.h"

#include "diagnostics/Failure.h"
#include "window/Form1.h"

#include <QTreeWidget>

namespace parcelon {

int sourceCount(const Form1& form)
{
    return form.ListView1->topLevelItemCount();
}

QString sourceText(const Form1& form, int position)
{
    QTreeWidgetItem* item = form.ListView1->topLevelItem(position - 1);
    if (!item)
        throw Failure(35600, QStringLiteral("Index out of bounds: the list has no item %1").arg(position));
    return item->text(0);
}

void addSource(Form1& form, const QString& path)
{
    auto* item = new QTreeWidgetItem(QStringList{path});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    form.ListView1->addTopLevelItem(item);
}

} // namespace parcelon
