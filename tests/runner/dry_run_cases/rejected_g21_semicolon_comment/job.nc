G01 X1.0
G21 ; millimetres
G01 X2.0
