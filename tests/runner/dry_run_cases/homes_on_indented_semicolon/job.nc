   ; indented
