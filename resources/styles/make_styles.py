#!/usr/bin/env python3
"""Writes the nine style sheets of the Style menu from their colour tables.
Run it after changing a colour; the .qss files are what the program loads."""

STYLES = {
    # name: (window, base, alternate, text, button, button_text, highlight, highlight_text, border, tab_selected)
    "Aqua Graphite":       ("#3b3f45", "#2b2e33", "#33373c", "#e6e8eb", "#4a5058", "#f0f2f4", "#3d8fd1", "#ffffff", "#5b6168", "#55606b"),
    "Cyan Night":          ("#0f2231", "#0a1823", "#10202c", "#c8f3ff", "#14425a", "#dff8ff", "#00b4d8", "#00141f", "#1f6f8b", "#186080"),
    "Emerald Light Slate": ("#e3ebe7", "#ffffff", "#eef4f1", "#1f2d27", "#c9dcd2", "#12261c", "#2e9f6a", "#ffffff", "#8fb3a1", "#f5faf7"),
    "Golden Graphite":     ("#2e2b26", "#24221e", "#2b2824", "#f1e6cf", "#4a4234", "#ffe9b8", "#d4a017", "#1d1500", "#6e6246", "#5a4f3a"),
    "Iceberg Classico":    ("#e8eef4", "#ffffff", "#f1f5f9", "#1b2733", "#d3dfeb", "#14202c", "#4a90c8", "#ffffff", "#9fb6cc", "#f8fbfd"),
    "Lavender Classico":   ("#ece8f4", "#ffffff", "#f4f1f9", "#2a2338", "#dbd2ea", "#21192f", "#8a6cc4", "#ffffff", "#b3a4cf", "#faf8fd"),
    "Light":               ("#f6f6f6", "#ffffff", "#fafafa", "#202020", "#ececec", "#202020", "#2f7be5", "#ffffff", "#c6c6c6", "#ffffff"),
    "Luna":                ("#ece9d8", "#ffffff", "#f5f3ea", "#000000", "#d6dff7", "#000000", "#316ac5", "#ffffff", "#7f9db9", "#fcfcfe"),
    "Metropolis UI Black": ("#1e1e1e", "#121212", "#1a1a1a", "#f0f0f0", "#2d2d2d", "#ffffff", "#e0531f", "#ffffff", "#444444", "#333333"),
}

TEMPLATE = """/* Skarvel style "{name}" */
QWidget {{ background-color: {window}; color: {text}; }}
QMainWindow, QDialog {{ background-color: {window}; }}
QPlainTextEdit, QTextEdit, QLineEdit, QTableView, QAbstractScrollArea, QListView, QComboBox QAbstractItemView {{
    background-color: {base}; color: {text}; border: 1px solid {border};
    selection-background-color: {highlight}; selection-color: {highlight_text};
}}
QTableView {{ alternate-background-color: {alternate}; gridline-color: {border}; }}
QHeaderView::section {{ background-color: {button}; color: {button_text}; border: 1px solid {border}; padding: 2px 4px; }}
QTableCornerButton::section {{ background-color: {button}; border: 1px solid {border}; }}
QPushButton {{ background-color: {button}; color: {button_text}; border: 1px solid {border}; border-radius: 3px; padding: 1px 1px; }}
QPushButton:hover {{ border-color: {highlight}; }}
QPushButton:pressed {{ background-color: {highlight}; color: {highlight_text}; }}
QPushButton:disabled, QLineEdit:disabled {{ color: {border}; }}
QTabWidget::pane {{ border: 1px solid {border}; background-color: {window}; }}
QTabBar::tab {{ background-color: {button}; color: {button_text}; border: 1px solid {border}; padding: 4px 12px; margin-right: 1px; }}
QTabBar::tab:selected {{ background-color: {tab_selected}; border-bottom: 2px solid {highlight}; }}
QMenuBar {{ background-color: {window}; color: {text}; }}
QMenuBar::item:selected, QMenu::item:selected {{ background-color: {highlight}; color: {highlight_text}; }}
QMenu {{ background-color: {base}; color: {text}; border: 1px solid {border}; }}
QProgressBar {{ border: 1px solid {border}; background-color: {base}; color: {text}; text-align: center; }}
QProgressBar::chunk {{ background-color: {highlight}; }}
QGroupBox {{ border: 1px solid {border}; margin-top: 8px; padding-top: 4px; }}
QGroupBox::title {{ subcontrol-origin: margin; left: 8px; padding: 0 3px; }}
QStatusBar {{ background-color: {button}; color: {button_text}; }}
QSplitter::handle {{ background-color: {border}; }}
QComboBox {{ background-color: {base}; color: {text}; border: 1px solid {border}; padding: 1px 6px; }}
QCheckBox::indicator, QRadioButton::indicator {{ border: 1px solid {border}; background-color: {base}; width: 11px; height: 11px; }}
QCheckBox::indicator:checked, QRadioButton::indicator:checked {{ background-color: {highlight}; }}
QRadioButton::indicator {{ border-radius: 6px; }}
QScrollBar:vertical {{ background: {alternate}; width: 14px; margin: 0; }}
QScrollBar:horizontal {{ background: {alternate}; height: 14px; margin: 0; }}
QScrollBar::handle {{ background: {button}; border: 1px solid {border}; min-height: 20px; min-width: 20px; }}
QScrollBar::add-line, QScrollBar::sub-line {{ background: {button}; border: 1px solid {border}; width: 12px; height: 12px; }}
QScrollBar::add-page, QScrollBar::sub-page {{ background: none; }}
"""

KEYS = ["window", "base", "alternate", "text", "button", "button_text", "highlight", "highlight_text", "border", "tab_selected"]

if __name__ == "__main__":
    for name, colours in STYLES.items():
        values = dict(zip(KEYS, colours))
        with open(name.replace(" ", "_") + ".qss", "w", encoding="utf-8") as f:
            f.write(TEMPLATE.format(name=name, **values))
