// The student editor in both modes: validation, adding by hand and from the
// stand-in card reader, changing a phone number; what the development server
// stored is read back from its store.
#pragma once

#include <QObject>

class TestStudentEditor : public QObject {
    Q_OBJECT

private slots:
    void validation_data();
    void validation();
    void addByHand();
    void addContinued();
    void addRefused();
    void readCardAndAdd_data();
    void readCardAndAdd();
    void changePhoneNumber();
    void changeRefused();
    void changeSendsStudentId();
};
