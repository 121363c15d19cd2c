# Typing stubs for tesmar_math (filled in later)
