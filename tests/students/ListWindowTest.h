// The student list window against the development server: paging, search,
// delete, the grid's drawing, the account window and the update link.
#pragma once

#include <QObject>

class TestStudentList : public QObject {
    Q_OBJECT

private slots:
    void paging();
    void pageAfterFullLastPage();
    void search_data();
    void search();
    void searchSendsTrimmedText_data();
    void searchSendsTrimmedText();
    void pageButtonsUseNewText();
    void deleteConfirmed();
    void deleteStaleRow();
    void gridDrawing();
    void gridRowNumbers();
    void accountWindow();
    void updateLinkCurrent();
    void updateLinkAnswers_data();
    void updateLinkAnswers();
};
