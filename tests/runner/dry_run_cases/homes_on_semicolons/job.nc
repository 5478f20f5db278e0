; first
; second
;third
