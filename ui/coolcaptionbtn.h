// TCoolCaptionBtn: one of the small buttons of a self-drawn caption bar,
// showing the glyph of its kind: help, minimise or close (the default).
// What a click does is up to the form.
#pragma once

#include <QAbstractButton>

enum class TCaptionBtnType { Help, Minimize, Close };

class TCoolCaptionBtn : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TCoolCaptionBtn(QWidget* parent = nullptr);

  TCaptionBtnType BtnType() const { return type_; }
  void SetBtnType(TCaptionBtnType type);

  QSize sizeHint() const override { return QSize(14, 14); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TCaptionBtnType type_ = TCaptionBtnType::Close;
};
