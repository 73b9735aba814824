a = 1 + 2 * 3 - 4 / 2 % 3
b = -a * 1.5 + .25
s = "x" + "y"
t = true
u = no
return a + b
